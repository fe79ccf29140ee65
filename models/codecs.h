// The model routines that turn MATLAB values into output packets and input
// blocks into measurements, one pair per row of the model table.
#ifndef KELB_CODECS_H
#define KELB_CODECS_H

#include "kelbport.h"

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

#endif
