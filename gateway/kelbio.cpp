#include "mex.h"
extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray *[], int, const mxArray *[]) {}
