// SPDX-License-Identifier: MIT
// Usage texts of the models, shown as they stand (they say less than the
// write routines accept).
#include "models/help.h"

static const char HelpTextTIRK[] =
    "TIRK help:\n"
    "    Write: command, digitalout, [dac1( dac2)]\n"
    "    Read:  [status elapsedtime position speed motorcurrent motorvoltage externvoltage digitalin averagespeed]";

static const char HelpTextFELDAR[] =
    "Feldar help:\n"
    "    Write: command, digitalout, [dac1(, dac2)], [a1 s1; a2 s2; a3 s3; ... a8 s8] or\n"
    "           command, digitalout, [dac1(, dac2)], [s1 s2 s3 s4 ... s8]\n"
    "    Read:  [status elapsedtime position1 position2 motorcurrent motorvoltage externalvoltage digitalin "
    "averagespeed1 averagespeed2]";

static const char HelpTextMORSIVAN[] =
    "Morsivan help:\n"
    "    Write: command digitalout dac1(, dac2)\n"
    "    Read:  [status elapsedtime position1 position2 motorcurrent beamvoltage morsivanvoltage digitalin]";

static const char HelpTextGASPILODEN[] =
    "Korvu Statue help:\n"
    "    Write: command\n"
    "    Read:  [status position1 position2 position3 position4 position5 position6]";

int32_t HelpTIRK(KELBstruct *, int, mxArray *[], int, const mxArray *[]) {
    mexWarnMsgTxt(HelpTextTIRK);
    return 0;
}

int32_t HelpSORVANDEL(KELBstruct *, int, mxArray *[], int, const mxArray *[]) {
    return 0;
}

int32_t HelpFELDAR(KELBstruct *, int, mxArray *[], int, const mxArray *[]) {
    mexWarnMsgTxt(HelpTextFELDAR);
    return 0;
}

int32_t HelpMORSIVAN(KELBstruct *, int, mxArray *[], int, const mxArray *[]) {
    mexWarnMsgTxt(HelpTextMORSIVAN);
    return 0;
}

int32_t HelpGASPILODEN(KELBstruct *, int, mxArray *[], int, const mxArray *[]) {
    mexWarnMsgTxt(HelpTextGASPILODEN);
    return 0;
}
