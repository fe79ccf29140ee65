// SPDX-License-Identifier: MIT
// GASPILODEN: three pulse outputs sharing one frequency, six 20-bit counters.
#include <cmath>

#include "models/codecs.h"
#include "transport.h"

namespace {

constexpr const char *KELBMSG_RATIO[3] = {"Ratio 1 out of range.", "Ratio 2 out of range.",
                                          "Ratio 3 out of range."};

// Counters are packed without gaps, low bits first: an even counter starts
// on a byte, an odd one on the high nibble of the byte before.
int32_t Counter(const uint8_t *block, int k)
{
    const uint8_t *b = block + 16 + 5 * (k / 2);
    int32_t v;
    if (k % 2 == 0)
        v = b[0] + 256 * b[1] + 65536 * (b[2] & 0x0F);
    else
        v = (b[2] >> 4) + 16 * b[3] + 4096 * b[4];
    if (v >= 524288) v -= 1048576;
    return v;
}

}  // namespace

int32_t WriteGASPILODEN(KELBstruct *port, int, mxArray *[], int nrhs, const mxArray *prhs[])
{
    if (nrhs < 6) return ArgumentError(KELBMSG_MISSING);
    for (int i = 1; i <= 5; i++)
        if (InputEmpty(nrhs, prhs, i)) return ArgumentError(KELBMSG_MISSING);
    for (int i = 1; i <= 5; i++)
        if (!InputDouble(prhs, i)) return ArgumentError(KELBMSG_NOT_DOUBLE);

    const uint8_t command = ByteField(InputValue(prhs, 1));
    uint8_t control = command & 0x0F;

    const double f = InputValue(prhs, 2);
    if (f < 50 || f > 25000) return ArgumentError("Frequency out of range.");
    // Ticks of the board's 3.2 MHz pulse clock (48 MHz / 15).
    const uint32_t period = std::isnan(f) ? 0 : static_cast<uint32_t>(48000000 / (f * 15));
    const bool servo = f <= 500;

    uint16_t pulse[3];
    for (int k = 0; k < 3; k++) {
        const double r = InputValue(prhs, 3 + k);
        if (r < -1 || r > 1) return ArgumentError(KELBMSG_RATIO[k]);
        if (servo) {
            // 0.9 ms at -1, 1.5 ms at 0, 2.1 ms at +1
            pulse[k] = WordField((r * 0.0006 + 0.0015) * 48000000 / 15);
        } else {
            pulse[k] = WordField(period * std::fabs(r));
            if (r < 0) control |= static_cast<uint8_t>(0x10 << k);
        }
    }

    // Zeroed only once the call is sure to go out: a rejected call leaves the
    // record as it was.
    if (command & 1) port->PrevPosition1 = 0;

    uint8_t packet[KELBGASPILODENPACKETLEN];
    packet[0] = control;
    for (int k = 0; k < 3; k++) {
        PutWord(packet + 1 + 4 * k, WordClamp(static_cast<int32_t>(period)));
        PutWord(packet + 3 + 4 * k, pulse[k]);
    }
    return USBwrite(port, packet, KELBGASPILODENPACKETLEN);
}

int32_t ReadGASPILODEN(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *[])
{
    uint8_t block[KELBINPUTBLOCKLEN];
    int32_t status = ReadBlock(port, block);
    if (status != KELB_OK) return status;
    double *out = CreateColumn(plhs, 7);
    if (!out) return -1;

    out[0] = BlockStatus(block);
    for (int k = 0; k < 6; k++) out[1 + k] = Counter(block, k);
    return KELB_OK;
}
