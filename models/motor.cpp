// SPDX-License-Identifier: MIT
// TIRK, SORVANDEL and MORSIVAN: one 8-byte motor packet out, one input block
// in, decoded per model.
#include "models/codecs.h"
#include "handlers.h"
#include "transport.h"

// Steps every model routine shares.

int32_t ArgumentError(const char *message)
{
    mexErrMsgTxt(message);
    return -1;
}

void MotorHeader(KELBstruct *port, const mxArray *prhs[], bool hasDac2Input,
                 uint8_t header[KELBMOTORPACKETLEN])
{
    uint8_t command = ByteField(InputValue(prhs, 1));
    if (command & 1) port->PrevPosition1 = 0;
    uint8_t digital = ByteField(InputValue(prhs, 2));

    const mxArray *dac = prhs[3];
    double dac1 = InputValue(prhs, 3);
    double dac2;
    if (mxGetM(dac) > 1 || mxGetN(dac) > 1)
        dac2 = mxGetPr(dac)[1];
    else if (hasDac2Input)
        dac2 = InputValue(prhs, 4);
    else if (!mxIsNaN(port->Dac2Default))
        dac2 = port->Dac2Default;
    else
        dac2 = dac1;

    header[0] = command;
    PutWord(header + 1, DacCode(dac1));
    PutWord(header + 3, DacCode(dac2));
    header[5] = digital;
    PutWord(header + 6, WatchdogCode(port->WatchdogTimeout));
}

int32_t ReadBlock(KELBstruct *port, uint8_t block[KELBINPUTBLOCKLEN])
{
    return USBread(port, block, KELBINPUTBLOCKLEN);
}

double *CreateColumn(mxArray *plhs[], int rows)
{
    mxArray *column = AllocCheck(mxCreateDoubleMatrix(rows, 1, mxREAL));
    if (!column) return nullptr;  // AllocCheck has raised the error already
    plhs[0] = column;
    return mxGetPr(column);
}

namespace {

// The three motor setups take the same packet, so one routine writes them all.
int32_t WriteMotor(KELBstruct *port, int, mxArray *[], int nrhs, const mxArray *prhs[])
{
    const bool dac2Given = nrhs == 5;  // with six inputs the last two are ignored
    if (InputEmpty(nrhs, prhs, 1) || InputEmpty(nrhs, prhs, 2) || InputEmpty(nrhs, prhs, 3))
        return ArgumentError(KELBMSG_MISSING);
    if (dac2Given && InputEmpty(nrhs, prhs, 4)) return ArgumentError(KELBMSG_MISSING_DAC2);
    if (!InputDouble(prhs, 1) || !InputDouble(prhs, 2) || !InputDouble(prhs, 3))
        return ArgumentError(KELBMSG_NOT_DOUBLE);
    if (dac2Given && !InputDouble(prhs, 4)) return ArgumentError(KELBMSG_NOT_DOUBLE);

    uint8_t packet[KELBMOTORPACKETLEN];
    MotorHeader(port, prhs, dac2Given, packet);
    return USBwrite(port, packet, KELBMOTORPACKETLEN);
}

}  // namespace

int32_t WriteTIRK(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    return WriteMotor(port, nlhs, plhs, nrhs, prhs);
}

int32_t WriteSORVANDEL(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    return WriteMotor(port, nlhs, plhs, nrhs, prhs);
}

int32_t WriteMORSIVAN(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    return WriteMotor(port, nlhs, plhs, nrhs, prhs);
}

int32_t ReadTIRK(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *[])
{
    uint8_t block[KELBINPUTBLOCKLEN];
    int32_t status = ReadBlock(port, block);
    if (status != KELB_OK) return status;
    double *out = CreateColumn(plhs, 9);
    if (!out) return -1;

    const uint8_t statusByte = block[KELB_IN_STATUS];
    const int32_t position = GetSigned24(block + KELB_IN_POSITION1);
    // The board times four encoder counts with its 48 MHz clock; all ones
    // means no count came within its range, so the motor stands still.
    const uint32_t period = GetUnsigned24(block + KELB_IN_POSITION2);
    double speed = 0;
    if (period != 0xFFFFFF) {
        speed = 603185.7894892403 / period;
        if (statusByte & 0x80) speed = -speed;
    }
    const uint16_t voltage = GetWord(block + KELB_IN_ANALOGB);

    out[0] = BlockStatus(block);
    out[1] = BlockElapsed(block);
    out[2] = CountToRadians(position);
    out[3] = speed;
    out[4] = GetWord(block + KELB_IN_ANALOGA) * 6.0 / 65535 - 3;
    out[5] = voltage * 25.0 / 65535 - 12.5;
    out[6] = voltage * 20.0 / 65535 - 10;  // same field as the motor voltage
    out[7] = block[KELB_IN_DIGITAL];
    out[8] = AverageSpeed(position, &port->PrevPosition1, statusByte);
    return KELB_OK;
}

int32_t ReadSORVANDEL(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *[])
{
    uint8_t block[KELBINPUTBLOCKLEN];
    int32_t status = ReadBlock(port, block);
    if (status != KELB_OK) return status;
    double *out = CreateColumn(plhs, 11);
    if (!out) return -1;

    const uint8_t statusByte = block[KELB_IN_STATUS];
    const int32_t position1 = GetSigned24(block + KELB_IN_POSITION1);
    const int32_t position2 = GetSigned24(block + KELB_IN_POSITION2);

    out[0] = BlockStatus(block);
    out[1] = BlockElapsed(block);
    out[2] = CountToRadians(position1);
    out[3] = CountToRadians(position2);
    out[4] = GetWord(block + KELB_IN_ANALOGA) * 5.0 / 65535;
    out[5] = GetWord(block + KELB_IN_ANALOGB) * 5.0 / 65535;
    // This board carries two 8-bit channels where the others have one word.
    out[6] = block[KELB_IN_ANALOGC] * 3.3 / 255;
    out[7] = block[KELB_IN_ANALOGC + 1] * 3.3 / 255;
    out[8] = block[KELB_IN_DIGITAL];
    out[9] = AverageSpeed(position1, &port->PrevPosition1, statusByte);
    out[10] = AverageSpeed(position2, &port->PrevPosition2, statusByte);
    return KELB_OK;
}

int32_t ReadMORSIVAN(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *[])
{
    uint8_t block[KELBINPUTBLOCKLEN];
    int32_t status = ReadBlock(port, block);
    if (status != KELB_OK) return status;
    double *out = CreateColumn(plhs, 8);
    if (!out) return -1;

    out[0] = BlockStatus(block);
    out[1] = BlockElapsed(block);
    out[2] = CountToRadians(GetSigned24(block + KELB_IN_POSITION1));
    out[3] = CountToRadians(GetSigned24(block + KELB_IN_POSITION2));
    out[4] = GetWord(block + KELB_IN_ANALOGA) * 10.2 / 65535 - 5.1;
    out[5] = GetWord(block + KELB_IN_ANALOGB) * 5.0 / 65535;
    out[6] = GetWord(block + KELB_IN_ANALOGC) * 5.0 / 65535;
    out[7] = block[KELB_IN_DIGITAL];
    return KELB_OK;
}
