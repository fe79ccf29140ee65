// The yardstick for kelbio in GNU Octave: a MEX that does no more than any
// MEX taking a port object must.  It reads the command text and the object's
// Port field (so Octave converts the struct as it does for kelbio) and
// returns what kelbio's TIRK Write and Read return: a status, or a 9x1
// column and a status.
#include <cstring>

#include "mex.h"

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray *plhs[], int nrhs,
                                                                   const mxArray *prhs[]) {
    char command[20], name[20];
    if (nrhs < 2 || mxGetString(prhs[0], command, sizeof command) != 0 || !mxIsStruct(prhs[1]))
        mexErrMsgTxt("usage: kelbnull(command, port, ...)");
    const mxArray *field = mxGetFieldByNumber(prhs[1], 0, 0);
    if (!field || mxGetString(field, name, sizeof name) != 0) mexErrMsgTxt("no Port field");
    if (command[0] == 'W') {
        plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
        return;
    }
    plhs[0] = mxCreateDoubleMatrix(9, 1, mxREAL);
    std::memset(mxGetPr(plhs[0]), 0, 9 * sizeof(double));
    if (nlhs > 1) plhs[1] = mxCreateDoubleMatrix(1, 1, mxREAL);
}
