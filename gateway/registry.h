// SPDX-License-Identifier: MIT
// The registry of port records, kept for as long as MATLAB keeps the library.
#ifndef KELB_REGISTRY_H
#define KELB_REGISTRY_H

#include "kelbport.h"

struct ModelEntry;

extern KELBstruct Port[KELBMAXPORTS];
extern int32_t KELBcount;

// The registered record named name (letter case ignored), or null.  The
// name is zero after its terminator, to the end of the field.
KELBstruct *FindPort(const char (&name)[KELBNAMELEN]);
// Appends a record for a new port name; the caller has checked there is room.
KELBstruct *RegisterPort(const char *name, const ModelEntry *model, int32_t device);
// The record a KELBport object stands for; raises an error when there is none.
KELBstruct *GetObjectPort(const mxArray *object);
void ExitFcn(void);

#endif
