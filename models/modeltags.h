// The five setups' names and board tags alone, for code that names boards
// without driving them (kelbio-scan).  The model table is checked against it
// when it is compiled.
#ifndef KELB_MODELTAGS_H
#define KELB_MODELTAGS_H

struct ModelNameTag {
    const char *Name;  // prefix of the model's port names
    const char *Tag;   // end of the board's product string
};

inline constexpr ModelNameTag KELBmodelTags[] = {
    {"TIRK", "(0.0)"},     {"SORVANDEL", "(0.1)"},  {"FELDAR", "(0.2)"},
    {"MORSIVAN", "(0.3)"}, {"GASPILODEN", "(0.4)"},
};

#endif
