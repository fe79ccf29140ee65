// SPDX-License-Identifier: MIT
// The model routines that turn MATLAB values into output packets and input
// blocks into measurements, one pair per row of the model table.
#ifndef KELB_CODECS_H
#define KELB_CODECS_H

#include "kelbport.h"
#include "models/packet.h"

#define KELB_MODEL_ROUTINE(name) \
    int32_t name(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])

KELB_MODEL_ROUTINE(ReadTIRK);
KELB_MODEL_ROUTINE(WriteTIRK);
KELB_MODEL_ROUTINE(ReadSORVANDEL);
KELB_MODEL_ROUTINE(WriteSORVANDEL);
KELB_MODEL_ROUTINE(ReadFELDAR);
KELB_MODEL_ROUTINE(WriteFELDAR);
KELB_MODEL_ROUTINE(ReadMORSIVAN);
KELB_MODEL_ROUTINE(WriteMORSIVAN);
KELB_MODEL_ROUTINE(ReadGASPILODEN);
KELB_MODEL_ROUTINE(WriteGASPILODEN);

#undef KELB_MODEL_ROUTINE

// The steps every model shares, defined with the motor codec, whose packet
// header and read steps the other models reuse.

// Argument errors shared by the model writes.
constexpr const char *KELBMSG_MISSING = "Missing parameter(s).";
constexpr const char *KELBMSG_MISSING_DAC2 = "Missing parameter.";
constexpr const char *KELBMSG_NOT_DOUBLE = "All parameters must be of type \"double\".";

// Raises a MATLAB error; the status is only seen should the host return.
int32_t ArgumentError(const char *message);
// Inputs of a model routine, counted from the port (prhs[0]).  A missing
// input counts as empty; the value of an input is its first element.  Inline,
// as every Write checks each of its inputs with them.
inline bool InputEmpty(int nrhs, const mxArray *prhs[], int index)
{
    return index >= nrhs || mxGetNumberOfElements(prhs[index]) == 0;
}

// Sparse storage holds only the nonzero elements, so element i of a sparse
// input is not at mxGetPr()[i]: such an input is refused like any other
// non-double rather than read wrongly or past its end.
inline bool InputDouble(const mxArray *prhs[], int index)
{
    return mxIsDouble(prhs[index]) && !mxIsSparse(prhs[index]);
}

inline double InputValue(const mxArray *prhs[], int index)
{
    return mxGetScalar(prhs[index]);
}

// The eight header bytes of the motor and FELDAR packets, built from
// port, command, digitalout, dac(, dac2) once the inputs have been checked.
// hasDac2Input tells whether prhs[4] is a dac2 value to use.
void MotorHeader(KELBstruct *port, const mxArray *prhs[], bool hasDac2Input,
                 uint8_t header[KELBMOTORPACKETLEN]);

// Reads one input block; the transport's status, 0 when the block is whole.
int32_t ReadBlock(KELBstruct *port, uint8_t block[KELBINPUTBLOCKLEN]);
// A real N x 1 double column in plhs[0]; raises "Out of memory." on failure
// (null should the host let that error return).
double *CreateColumn(mxArray *plhs[], int rows);

#endif
