// SPDX-License-Identifier: MIT
// FELDAR: the motor header followed by four addressed set-point slots, as
// many 16-byte packets as the set-points need; two axes in the input block.
#include <cstring>

#include "models/codecs.h"
#include "transport.h"

namespace {

constexpr int KELBFELDARSLOTS = 4;

// A set-point word holds the address in bits 10-15 and set-point + 500 in
// bits 0-9.  An empty slot is 0, which is not the word of set-point 0.
// Both fields take their value truncated toward zero, NaN and values beyond
// int32 counting as -2147483648 (ToInteger).  They run for every entry, so
// each is one range test on the double, which NaN fails, instead of
// ToInteger and a clamp.

// The address when it truncates into 0..63, otherwise 0.
inline uint32_t AddressField(double address)
{
    return (address > -1.0 && address < 64.0) ? static_cast<uint32_t>(static_cast<int32_t>(address)) : 0;
}

// The set-point clamped to -500..500, plus 500.
inline uint32_t SetpointField(double setpoint)
{
    if (setpoint > -501.0 && setpoint < 501.0)
        return static_cast<uint32_t>(static_cast<int32_t>(setpoint) + 500);
    return (setpoint >= 501.0 && setpoint < 2147483648.0) ? 1000 : 0;
}

inline uint16_t SetpointWord(uint32_t addressField, double setpoint)
{
    return static_cast<uint16_t>(addressField * 1024 + SetpointField(setpoint));
}

}  // namespace

int32_t WriteFELDAR(KELBstruct *port, int, mxArray *[], int nrhs, const mxArray *prhs[])
{
    if (InputEmpty(nrhs, prhs, 1) || InputEmpty(nrhs, prhs, 2) || InputEmpty(nrhs, prhs, 3) ||
        nrhs != 5 || InputEmpty(nrhs, prhs, 4))
        return ArgumentError(KELBMSG_MISSING);
    for (int i = 1; i <= 4; i++)
        if (!InputDouble(prhs, i)) return ArgumentError(KELBMSG_NOT_DOUBLE);

    uint8_t packet[KELBFELDARPACKETLEN];
    MotorHeader(port, prhs, false, packet);
    uint8_t *const slots = packet + KELBMOTORPACKETLEN;

    // [a1 s1; a2 s2; ...] when there are two columns, otherwise a list of
    // set-points for addresses 1, 2, ...
    const mxArray *setpoints = prhs[4];
    const size_t rows = mxGetM(setpoints);
    const size_t columns = mxGetN(setpoints);
    const double *e = mxGetPr(setpoints);
    const size_t entries = columns >= 3 ? columns : rows;
    const bool pairs = columns == 2;
    const double *values = pairs ? e + rows : e;

    // One packet per four entries, the slots after the last entry left 0.
    // The two forms have a loop each, so that the entry loop does not test
    // the form.
    for (size_t i = 0; i < entries;) {
        std::memset(slots, 0, 2 * KELBFELDARSLOTS);
        const size_t end = entries - i > KELBFELDARSLOTS ? i + KELBFELDARSLOTS : entries;
        uint8_t *slot = slots;
        if (pairs)
            for (; i < end; i++, slot += 2) PutWord(slot, SetpointWord(AddressField(e[i]), values[i]));
        else
            for (; i < end; i++, slot += 2)
                PutWord(slot, SetpointWord(i < 63 ? static_cast<uint32_t>(i + 1) : 0, values[i]));
        int32_t status = USBwrite(port, packet, KELBFELDARPACKETLEN);
        if (status != KELB_OK) return status;
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
