// SPDX-License-Identifier: MIT
// The model table: name, board tag and the three routines of each setup.
#include "models/modeltable.h"

#include "kelbtext.h"
#include "models/codecs.h"
#include "models/help.h"

// No name is a prefix of another, so a port name selects at most one row.
const std::array<ModelEntry, KELBMODELCOUNT> KELBmodels = {{
    {"TIRK", "(0.0)", ReadTIRK, WriteTIRK, HelpTIRK},
    {"SORVANDEL", "(0.1)", ReadSORVANDEL, WriteSORVANDEL, HelpSORVANDEL},
    {"FELDAR", "(0.2)", ReadFELDAR, WriteFELDAR, HelpFELDAR},
    {"MORSIVAN", "(0.3)", ReadMORSIVAN, WriteMORSIVAN, HelpMORSIVAN},
    {"GASPILODEN", "(0.4)", ReadGASPILODEN, WriteGASPILODEN, HelpGASPILODEN},
}};

const ModelEntry *FindModel(const char *portName) {
    for (const ModelEntry &model : KELBmodels)
        if (KELBbeginsWith(portName, model.ModelName)) return &model;
    return nullptr;
}
