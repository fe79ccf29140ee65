// SPDX-License-Identifier: MIT
// FELDAR: the motor header followed by four addressed set-point slots, as
// many 16-byte packets as the set-points need; two axes in the input block.
#include "models/codecs.h"
#include "transport.h"

namespace {

constexpr int KELBFELDARSLOTS = 4;

// Address in bits 10-15, set-point + 500 in bits 0-9.  An empty slot is 0,
// which is not the word of set-point 0.
uint16_t SetpointWord(double address, double setpoint)
{
    int32_t a = ToInteger(address);
    int32_t s = ToInteger(setpoint);
    uint16_t addressField = (a >= 0 && a <= 63) ? static_cast<uint16_t>(a) : 0;
    uint16_t setpointField = 0;
    if (s > 500)
        setpointField = 1000;
    else if (s >= -500)
        setpointField = static_cast<uint16_t>(s + 500);
    return static_cast<uint16_t>(addressField * 1024 + setpointField);
}

}  // namespace

int32_t WriteFELDAR(KELBstruct *port, int, mxArray *[], int nrhs, const mxArray *prhs[])
{
    if (InputEmpty(nrhs, prhs, 1) || InputEmpty(nrhs, prhs, 2) || InputEmpty(nrhs, prhs, 3) ||
        nrhs != 5 || InputEmpty(nrhs, prhs, 4))
        return ArgumentError(KELBMSG_MISSING);
    for (int i = 1; i <= 4; i++)
        if (!InputDouble(prhs, i)) return ArgumentError(KELBMSG_NOT_DOUBLE);

    uint8_t packet[KELBFELDARPACKETLEN] = {};
    MotorHeader(port, prhs, false, packet);

    // [a1 s1; a2 s2; ...] when there are two columns, otherwise a list of
    // set-points for addresses 1, 2, ...
    const mxArray *setpoints = prhs[4];
    const size_t rows = mxGetM(setpoints);
    const size_t columns = mxGetN(setpoints);
    const double *e = mxGetPr(setpoints);
    const size_t entries = columns >= 3 ? columns : rows;
    const bool pairs = columns == 2;

    for (size_t i = 0; i < entries; i++) {
        uint16_t word = pairs ? SetpointWord(e[i], e[rows + i])
                              : SetpointWord(static_cast<double>(i + 1), e[i]);
        PutWord(packet + KELBMOTORPACKETLEN + 2 * (i % KELBFELDARSLOTS), word);
        if (i % KELBFELDARSLOTS == KELBFELDARSLOTS - 1 || i == entries - 1) {
            int32_t status = USBwrite(port, packet, KELBFELDARPACKETLEN);
            if (status != KELB_OK) return status;
            for (int slot = KELBMOTORPACKETLEN; slot < KELBFELDARPACKETLEN; slot++) packet[slot] = 0;
        }
    }
    return KELB_OK;
}

int32_t ReadFELDAR(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *[])
{
    uint8_t block[KELBINPUTBLOCKLEN];
    int32_t status = ReadBlock(port, block);
    if (status != KELB_OK) return status;
    double *out = CreateColumn(plhs, 10);
    if (!out) return -1;

    const uint8_t statusByte = block[KELB_IN_STATUS];
    const int32_t position1 = GetSigned24(block + KELB_IN_POSITION1);
    const int32_t position2 = GetSigned24(block + KELB_IN_POSITION2);

    out[0] = BlockStatus(block);
    out[1] = BlockElapsed(block);
    out[2] = CountToRadians(position1);
    out[3] = CountToRadians(position2);
    out[4] = GetWord(block + KELB_IN_ANALOGA) * 10.2 / 65535 - 5.1;
    out[5] = GetWord(block + KELB_IN_ANALOGB) * 5.0 / 65535;
    out[6] = GetWord(block + KELB_IN_ANALOGC) * 5.0 / 65535;
    out[7] = block[KELB_IN_DIGITAL];
    out[8] = AverageSpeed(position1, &port->PrevPosition1, statusByte);
    out[9] = AverageSpeed(position2, &port->PrevPosition2, statusByte);
    return KELB_OK;
}
