// SPDX-License-Identifier: MIT
// The model table: name, board tag and the three routines of each setup.
#include "models/modeltable.h"

#include "kelbtext.h"
#include "models/codecs.h"
#include "models/help.h"
#include "models/modeltags.h"

// No name is a prefix of another, so a port name selects at most one row.
constexpr std::array<ModelEntry, KELBMODELCOUNT> KELBmodels = {{
    {"TIRK", "(0.0)", ReadTIRK, WriteTIRK, HelpTIRK},
    {"SORVANDEL", "(0.1)", ReadSORVANDEL, WriteSORVANDEL, HelpSORVANDEL},
    {"FELDAR", "(0.2)", ReadFELDAR, WriteFELDAR, HelpFELDAR},
    {"MORSIVAN", "(0.3)", ReadMORSIVAN, WriteMORSIVAN, HelpMORSIVAN},
    {"GASPILODEN", "(0.4)", ReadGASPILODEN, WriteGASPILODEN, HelpGASPILODEN},
}};

static constexpr bool SameText(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) a++, b++;
    return *a == *b;
}

static constexpr bool TagsAgree() {
    if (sizeof KELBmodelTags / sizeof KELBmodelTags[0] != KELBMODELCOUNT) return false;
    for (int i = 0; i < KELBMODELCOUNT; i++)
        if (!SameText(KELBmodels[i].ModelName, KELBmodelTags[i].Name) ||
            !SameText(KELBmodels[i].ModelTag, KELBmodelTags[i].Tag))
            return false;
    return true;
}
static_assert(TagsAgree(), "KELBmodelTags must list the model table's names and tags");

const ModelEntry *FindModel(const char *portName) {
    for (const ModelEntry &model : KELBmodels)
        if (KELBbeginsWith(portName, model.ModelName)) return &model;
    return nullptr;
}
