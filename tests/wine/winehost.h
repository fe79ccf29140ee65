// What the Wine host's test files share: the loaded plug-in and calls into it.
#ifndef KELB_WINEHOST_H
#define KELB_WINEHOST_H

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "standin.h"

using MexFunction = void (*)(int, mxArray *[], int, const mxArray *[]);
extern MexFunction PluginEntry;
extern HMODULE Plugin;

struct CallResult {
    std::vector<mxArray *> out;
    std::string error;  // empty when the call returned normally
};

inline CallResult Call(int nlhs, std::vector<const mxArray *> in)
{
    CallResult r;
    r.out.assign(nlhs > 0 ? nlhs : 1, nullptr);
    try {
        PluginEntry(nlhs, r.out.data(), int(in.size()), in.data());
    } catch (const StandinError &e) {
        r.error = e.message;
    }
    return r;
}

inline const mxArray *Str(const char *text) { return mxCreateString(text); }

inline std::string Text(const mxArray *a)
{
    char buf[64];
    if (!a || mxGetString(a, buf, sizeof buf) != 0) return "<not text>";
    return buf;
}

inline const mxArray *Field(const mxArray *s, int n) { return mxGetFieldByNumber(s, 0, n); }

inline int32_t Int32Of(const mxArray *a)
{
    int32_t v;
    std::memcpy(&v, mxGetData(a), 4);
    return v;
}

inline uint32_t Uint32Of(const mxArray *a)
{
    uint32_t v;
    std::memcpy(&v, mxGetData(a), 4);
    return v;
}

inline std::vector<std::string> Warnings()
{
    std::vector<std::string> w;
    for (int i = 0; i < StandinWarningCount(); ++i) w.emplace_back(StandinWarning(i));
    return w;
}

#endif
