// SPDX-License-Identifier: MIT
// The five laboratory setups the library knows, in the order port names are
// matched against them.
#ifndef KELB_MODELTABLE_H
#define KELB_MODELTABLE_H

#include <array>

#include "kelbport.h"

struct ModelEntry {
    char ModelName[KELBNAMELEN];  // prefix of the model's port names
    char ModelTag[KELBNAMELEN];   // end of the board's product string
    KELBhandler ReadFcn;
    KELBhandler WriteFcn;
    KELBhandler HelpFcn;
};

constexpr int KELBMODELCOUNT = 5;
extern const std::array<ModelEntry, KELBMODELCOUNT> KELBmodels;

// The first row whose ModelName begins portName, letter case ignored; null if none.
const ModelEntry *FindModel(const char *portName);

#endif
