// The same Open/Write/Read/Close traffic on a TIRK, a FELDAR and a GASPILODEN
// board, written out as text.  The Wine host runs it on the stand-in CyUSB
// driver and kelbio-traffic on the Linux build and the virtual libusb bus;
// both boards run the same plant, so the two transcripts must be equal.
#ifndef KELB_WINE_TRAFFIC_H
#define KELB_WINE_TRAFFIC_H

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "mex.h"

namespace traffic {

struct Model {
    const char *name;
    int row;
};
constexpr Model Models[] = {{"TIRK", 0}, {"FELDAR", 2}, {"GASPILODEN", 4}};

// Outputs of one mexFunction call; error is "" when it returned normally.
using Call = std::function<std::vector<mxArray *>(int nlhs, std::vector<const mxArray *> in, std::string *error)>;
using Packets = std::vector<std::vector<uint8_t>>;

inline const mxArray *Matrix(size_t m, size_t n, std::initializer_list<double> columnMajor)
{
    mxArray *a = mxCreateDoubleMatrix(m, n, mxREAL);
    double *p = mxGetPr(a);
    for (double v : columnMajor) *p++ = v;
    return a;
}

inline const mxArray *Number(double v) { return Matrix(1, 1, {v}); }

// The Write inputs after the port; each write is followed by two reads.
inline std::vector<std::vector<const mxArray *>> Writes(int row)
{
    switch (row) {
    case 0:
        return {{Number(0x11), Number(6), Matrix(1, 2, {2.5, -1.25})}, {Number(0x02), Number(0), Number(-9.5)}};
    case 2:
        return {{Number(5), Number(3), Matrix(1, 2, {1, -1}), Matrix(3, 2, {1, 2, 3, 100, -200, 300})},
                {Number(4), Number(0), Number(0.25), Matrix(1, 6, {1, 2, 3, 4, 5, 6})}};
    default:
        return {{Number(1), Number(1000), Number(0.5), Number(-0.25), Number(0.75)},
                {Number(0), Number(200), Number(-1), Number(0), Number(1)}};
    }
}

inline std::string Hex(uint64_t v, int digits)
{
    std::string s(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = "0123456789abcdef"[v & 15];
    return s;
}

// Doubles by their bits, so the runtimes' number formatting plays no part.
inline std::string Column(const mxArray *a)
{
    if (!a || !mxIsDouble(a)) return " <none>";
    std::string s;
    const double *p = mxGetPr(a);
    for (size_t i = 0; i < mxGetNumberOfElements(a); ++i) {
        uint64_t bits;
        std::memcpy(&bits, &p[i], sizeof bits);
        s += " " + Hex(bits, 16);
    }
    return s;
}

inline std::string Status(const std::vector<mxArray *> &out, size_t slot, const std::string &error)
{
    if (!error.empty()) return " error: " + error;
    if (out.size() <= slot || !out[slot]) return " <no status>";
    return " " + std::to_string(static_cast<long long>(mxGetScalar(out[slot])));
}

// Opens the model's first port, writes and reads, closes it; sent() gives
// the packets the board took.
inline std::string Run(const Model &model, const Call &call, const std::function<Packets()> &sent)
{
    std::string error;
    std::string t = model.name;
    t += "\n";
    std::vector<mxArray *> out = call(2, {mxCreateString("Open"), mxCreateString((std::string(model.name) + "1").c_str())},
                                      &error);
    t += "open" + Status(out, 1, error) + "\n";
    if (!error.empty()) return t;
    const mxArray *port = out[0];
    for (std::vector<const mxArray *> in : Writes(model.row)) {
        in.insert(in.begin(), {mxCreateString("Write"), port});
        out = call(0, in, &error);
        t += "write" + Status(out, 0, error) + "\n";
        for (int i = 0; i < 2; ++i) {
            out = call(2, {mxCreateString("Read"), port}, &error);
            t += "read" + Status(out, 1, error) + Column(out.empty() ? nullptr : out[0]) + "\n";
        }
    }
    out = call(0, {mxCreateString("Close"), port}, &error);
    t += "close" + Status(out, 0, error) + "\n";
    for (const std::vector<uint8_t> &packet : sent()) {
        t += "packet";
        for (uint8_t b : packet) t += " " + Hex(b, 2);
        t += "\n";
    }
    return t;
}

}  // namespace traffic

#endif
