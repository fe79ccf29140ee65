// MX arrays of the stand-in host and the mx calls of platform/matlab/matrix.h.
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "hoststate.h"

struct mxArray_tag {
    mxClassID cls = mxDOUBLE_CLASS;
    std::size_t m = 0, n = 0;
    bool sparse = false;         // data then holds the nonzero elements only
    std::vector<uint64_t> data;  // element storage, 8-byte aligned
    std::vector<std::string> fieldNames;
    std::vector<mxArray *> fields;  // element-major: fields[e * nfields + f]
    std::vector<mxArray *> cells;

    std::size_t Count() const { return m * n; }
};

namespace kelbhost {
namespace {

std::vector<std::unique_ptr<mxArray>> arena;

std::size_t ElementSize(mxClassID c) {
    switch (c) {
    case mxDOUBLE_CLASS: case mxINT64_CLASS: case mxUINT64_CLASS: return 8;
    case mxSINGLE_CLASS: case mxINT32_CLASS: case mxUINT32_CLASS: return 4;
    case mxINT16_CLASS: case mxUINT16_CLASS: case mxCHAR_CLASS: return 2;
    case mxINT8_CLASS: case mxUINT8_CLASS: case mxLOGICAL_CLASS: return 1;
    default: return 0;
    }
}

mxArray *Make(mxClassID cls, std::size_t m, std::size_t n) {
    auto a = std::make_unique<mxArray>();
    a->cls = cls;
    a->m = m;
    a->n = n;
    std::size_t bytes = ElementSize(cls) * m * n;
    a->data.assign((bytes + 7) / 8, 0);
    if (cls == mxCELL_CLASS) a->cells.assign(m * n, nullptr);
    arena.push_back(std::move(a));
    return arena.back().get();
}

bool Numeric(const mxArray *a) {
    return ElementSize(a->cls) != 0;
}

void Need(bool ok, const char *what) {
    if (!ok) throw HostFault(what);
}

double ElementAsDouble(const mxArray *a, std::size_t i) {
    const void *p = a->data.data();
    switch (a->cls) {
    case mxDOUBLE_CLASS: return static_cast<const double *>(p)[i];
    case mxSINGLE_CLASS: return static_cast<const float *>(p)[i];
    case mxINT8_CLASS: return static_cast<const int8_t *>(p)[i];
    case mxUINT8_CLASS: return static_cast<const uint8_t *>(p)[i];
    case mxINT16_CLASS: return static_cast<const int16_t *>(p)[i];
    case mxUINT16_CLASS: return static_cast<const uint16_t *>(p)[i];
    case mxINT32_CLASS: return static_cast<const int32_t *>(p)[i];
    case mxUINT32_CLASS: return static_cast<const uint32_t *>(p)[i];
    case mxINT64_CLASS: return static_cast<double>(static_cast<const int64_t *>(p)[i]);
    case mxUINT64_CLASS: return static_cast<double>(static_cast<const uint64_t *>(p)[i]);
    case mxCHAR_CLASS: return static_cast<const mxChar *>(p)[i];
    case mxLOGICAL_CLASS: return static_cast<const mxLogical *>(p)[i] ? 1.0 : 0.0;
    default: throw HostFault("no numeric value in this array");
    }
}

int FieldIndex(const mxArray *s, const std::string &field) {
    Need(s && s->cls == mxSTRUCT_CLASS, "not a struct");
    for (std::size_t f = 0; f < s->fieldNames.size(); ++f)
        if (s->fieldNames[f] == field) return static_cast<int>(f);
    throw HostFault("no field " + field);
}

}  // namespace

void FreeArrays() { arena.clear(); }

mxArray *Double(double value) {
    mxArray *a = Make(mxDOUBLE_CLASS, 1, 1);
    std::memcpy(a->data.data(), &value, sizeof value);
    return a;
}

mxArray *Doubles(std::size_t m, std::size_t n, std::initializer_list<double> columnMajor) {
    mxArray *a = Make(mxDOUBLE_CLASS, m, n);
    Need(columnMajor.size() == 0 || columnMajor.size() == m * n, "wrong number of values");
    std::size_t i = 0;
    for (double v : columnMajor) reinterpret_cast<double *>(a->data.data())[i++] = v;
    return a;
}

mxArray *Sparse(std::size_t m, std::size_t n, std::initializer_list<double> columnMajor) {
    Need(columnMajor.size() == m * n, "wrong number of values");
    mxArray *a = Make(mxDOUBLE_CLASS, m, n);
    a->sparse = true;
    std::vector<double> nonzero;
    for (double v : columnMajor)
        if (v != 0) nonzero.push_back(v);
    // As in MATLAB, room for at least one element even when all are zero.
    a->data.assign(nonzero.empty() ? 1 : nonzero.size(), 0);
    if (!nonzero.empty()) std::memcpy(a->data.data(), nonzero.data(), nonzero.size() * sizeof(double));
    return a;
}

mxArray *Int32(int32_t value) {
    mxArray *a = Make(mxINT32_CLASS, 1, 1);
    std::memcpy(a->data.data(), &value, sizeof value);
    return a;
}

mxArray *Uint32(uint32_t value) {
    mxArray *a = Make(mxUINT32_CLASS, 1, 1);
    std::memcpy(a->data.data(), &value, sizeof value);
    return a;
}

mxArray *Logical(bool value) {
    mxArray *a = Make(mxLOGICAL_CLASS, 1, 1);
    mxLogical v = value;
    std::memcpy(a->data.data(), &v, sizeof v);
    return a;
}

mxArray *Char(const std::string &text) {
    // MATLAB's '' is 0x0; any other text is a row.
    mxArray *a = Make(mxCHAR_CLASS, text.empty() ? 0 : 1, text.size());
    auto *c = reinterpret_cast<mxChar *>(a->data.data());
    for (std::size_t i = 0; i < text.size(); ++i) c[i] = static_cast<unsigned char>(text[i]);
    return a;
}

mxArray *Empty() { return Make(mxDOUBLE_CLASS, 0, 0); }

mxArray *Cell(std::size_t m, std::size_t n) { return Make(mxCELL_CLASS, m, n); }

void SetCell(mxArray *cell, std::size_t index, mxArray *value) {
    Need(cell && cell->cls == mxCELL_CLASS && index < cell->Count(), "bad cell index");
    cell->cells[index] = value;
}

mxArray *Struct(const std::vector<std::string> &fields, std::size_t m, std::size_t n) {
    mxArray *a = Make(mxSTRUCT_CLASS, m, n);
    a->fieldNames = fields;
    a->fields.assign(m * n * fields.size(), nullptr);
    return a;
}

void SetField(mxArray *s, const std::string &field, mxArray *value, std::size_t index) {
    int f = FieldIndex(s, field);
    Need(index < s->Count(), "no such struct element");
    s->fields[index * s->fieldNames.size() + static_cast<std::size_t>(f)] = value;
}

mxArray *GetField(const mxArray *s, const std::string &field, std::size_t index) {
    int f = FieldIndex(s, field);
    Need(index < s->Count(), "no such struct element");
    return s->fields[index * s->fieldNames.size() + static_cast<std::size_t>(f)];
}

std::vector<std::string> FieldNames(const mxArray *s) {
    Need(s && s->cls == mxSTRUCT_CLASS, "not a struct");
    return s->fieldNames;
}

std::string ClassName(const mxArray *a) {
    if (!a) return "(null)";
    switch (a->cls) {
    case mxCELL_CLASS: return "cell";
    case mxSTRUCT_CLASS: return "struct";
    case mxLOGICAL_CLASS: return "logical";
    case mxCHAR_CLASS: return "char";
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT8_CLASS: return "int8";
    case mxUINT8_CLASS: return "uint8";
    case mxINT16_CLASS: return "int16";
    case mxUINT16_CLASS: return "uint16";
    case mxINT32_CLASS: return "int32";
    case mxUINT32_CLASS: return "uint32";
    case mxINT64_CLASS: return "int64";
    case mxUINT64_CLASS: return "uint64";
    default: return "unknown";
    }
}

std::string Text(const mxArray *a) {
    Need(a && a->cls == mxCHAR_CLASS, "not a char array");
    std::string s;
    const auto *c = reinterpret_cast<const mxChar *>(a->data.data());
    for (std::size_t i = 0; i < a->Count(); ++i) s += static_cast<char>(c[i]);
    return s;
}

}  // namespace kelbhost

using kelbhost::Need;

extern "C" {

mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag) {
    Need(m >= 0 && n >= 0 && flag == mxREAL, "mxCreateDoubleMatrix: bad arguments");
    if (kelbhost::TakeAllocation()) return nullptr;
    return kelbhost::Make(mxDOUBLE_CLASS, static_cast<std::size_t>(m), static_cast<std::size_t>(n));
}

mxArray *mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID classid, mxComplexity flag) {
    Need(m >= 0 && n >= 0 && flag == mxREAL, "mxCreateNumericMatrix: bad arguments");
    Need(kelbhost::ElementSize(classid) != 0 && classid != mxCHAR_CLASS && classid != mxLOGICAL_CLASS,
         "mxCreateNumericMatrix: not a numeric class");
    if (kelbhost::TakeAllocation()) return nullptr;
    return kelbhost::Make(classid, static_cast<std::size_t>(m), static_cast<std::size_t>(n));
}

mxArray *mxCreateString(const char *str) {
    Need(str != nullptr, "mxCreateString: null text");
    if (kelbhost::TakeAllocation()) return nullptr;
    return kelbhost::Char(str);
}

mxArray *mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char **fieldnames) {
    Need(m >= 0 && n >= 0 && nfields >= 0 && (nfields == 0 || fieldnames), "mxCreateStructMatrix: bad arguments");
    std::vector<std::string> names;
    for (int f = 0; f < nfields; ++f) {
        Need(fieldnames[f] && *fieldnames[f], "mxCreateStructMatrix: empty field name");
        for (const auto &seen : names) Need(seen != fieldnames[f], "mxCreateStructMatrix: duplicate field name");
        names.emplace_back(fieldnames[f]);
    }
    if (kelbhost::TakeAllocation()) return nullptr;
    return kelbhost::Struct(names, static_cast<std::size_t>(m), static_cast<std::size_t>(n));
}

int mxGetString(const mxArray *a, char *buf, mwSize buflen) {
    Need(a != nullptr, "mxGetString: null array");
    Need(a->cls != mxSTRUCT_CLASS && a->cls != mxCELL_CLASS, "mxGetString: not a character array (Octave raises)");
    if (a->cls != mxCHAR_CLASS) return 1;
    // Octave leaves the buffer untouched when the text does not fit.
    if (buflen <= 0 || a->Count() + 1 > static_cast<std::size_t>(buflen)) return 1;
    const auto *c = reinterpret_cast<const mxChar *>(a->data.data());
    for (std::size_t i = 0; i < a->Count(); ++i) buf[i] = static_cast<char>(c[i]);
    buf[a->Count()] = '\0';
    return 0;
}

double *mxGetPr(const mxArray *a) {
    Need(a != nullptr, "mxGetPr: null array");
    if (a->cls != mxDOUBLE_CLASS || a->Count() == 0) return nullptr;
    return reinterpret_cast<double *>(const_cast<uint64_t *>(a->data.data()));
}

void *mxGetData(const mxArray *a) {
    Need(a != nullptr, "mxGetData: null array");
    if (!kelbhost::Numeric(a) || a->Count() == 0) return nullptr;
    return const_cast<uint64_t *>(a->data.data());
}

double mxGetScalar(const mxArray *a) {
    Need(a != nullptr, "mxGetScalar: null array");
    Need(a->Count() > 0, "mxGetScalar: empty array (Octave raises)");
    Need(kelbhost::Numeric(a), "mxGetScalar: no numeric value (Octave raises)");
    // Of a sparse array MATLAB gives the first stored, that is nonzero, value.
    return kelbhost::ElementAsDouble(a, 0);
}

size_t mxGetM(const mxArray *a) {
    Need(a != nullptr, "mxGetM: null array");
    return a->m;
}

size_t mxGetN(const mxArray *a) {
    Need(a != nullptr, "mxGetN: null array");
    return a->n;
}

size_t mxGetNumberOfElements(const mxArray *a) {
    Need(a != nullptr, "mxGetNumberOfElements: null array");
    return a->Count();
}

int mxGetNumberOfFields(const mxArray *a) {
    Need(a != nullptr, "mxGetNumberOfFields: null array");
    return a->cls == mxSTRUCT_CLASS ? static_cast<int>(a->fieldNames.size()) : 0;
}

const char *mxGetFieldNameByNumber(const mxArray *a, int n) {
    Need(a != nullptr, "mxGetFieldNameByNumber: null array");
    Need(a->cls == mxSTRUCT_CLASS, "mxGetFieldNameByNumber: not a struct (Octave raises)");
    if (n < 0 || static_cast<std::size_t>(n) >= a->fieldNames.size()) return nullptr;
    return a->fieldNames[static_cast<std::size_t>(n)].c_str();
}

mxArray *mxGetFieldByNumber(const mxArray *a, mwIndex index, int n) {
    Need(a != nullptr, "mxGetFieldByNumber: null array");
    if (a->cls != mxSTRUCT_CLASS) return nullptr;
    Need(index >= 0 && static_cast<std::size_t>(index) < a->Count(),
         "mxGetFieldByNumber: element out of range (Octave crashes)");
    if (n < 0 || static_cast<std::size_t>(n) >= a->fieldNames.size()) return nullptr;
    return a->fields[static_cast<std::size_t>(index) * a->fieldNames.size() + static_cast<std::size_t>(n)];
}

void mxSetFieldByNumber(mxArray *a, mwIndex index, int n, mxArray *value) {
    Need(a != nullptr && a->cls == mxSTRUCT_CLASS, "mxSetFieldByNumber: not a struct");
    Need(index >= 0 && static_cast<std::size_t>(index) < a->Count(), "mxSetFieldByNumber: element out of range");
    Need(n >= 0 && static_cast<std::size_t>(n) < a->fieldNames.size(), "mxSetFieldByNumber: no such field");
    a->fields[static_cast<std::size_t>(index) * a->fieldNames.size() + static_cast<std::size_t>(n)] = value;
}

bool mxIsDouble(const mxArray *a) {
    Need(a != nullptr, "mxIsDouble: null array");
    return a->cls == mxDOUBLE_CLASS;
}

bool mxIsSparse(const mxArray *a) {
    Need(a != nullptr, "mxIsSparse: null array");
    return a->sparse;
}

bool mxIsChar(const mxArray *a) {
    Need(a != nullptr, "mxIsChar: null array");
    return a->cls == mxCHAR_CLASS;
}

bool mxIsStruct(const mxArray *a) {
    Need(a != nullptr, "mxIsStruct: null array");
    return a->cls == mxSTRUCT_CLASS;
}

bool mxIsEmpty(const mxArray *a) {
    Need(a != nullptr, "mxIsEmpty: null array");
    return a->Count() == 0;
}

mxClassID mxGetClassID(const mxArray *a) {
    Need(a != nullptr, "mxGetClassID: null array");
    return a->cls;
}

double mxGetNaN(void) { return std::numeric_limits<double>::quiet_NaN(); }

bool mxIsNaN(double value) { return std::isnan(value); }

}  // extern "C"
