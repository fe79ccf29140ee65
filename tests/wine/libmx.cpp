// Stand-in for MATLAB's libmx.dll: just enough mxArray for the gateway's
// arrays (double, int32/uint32, char row, struct).  Arrays live until the
// process ends, as MATLAB would keep or discard them for us.
#include "matrix.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

struct mxArray_tag {
    mxClassID classID = mxUNKNOWN_CLASS;
    size_t m = 0, n = 0;
    std::vector<double> real;
    std::vector<unsigned char> bytes;  // int and uint classes
    std::string text;
    std::vector<std::string> fieldNames;
    std::vector<mxArray *> fields;     // element-major: element * nfields + field
};

namespace {

std::vector<std::unique_ptr<mxArray>> &Arrays()
{
    static std::vector<std::unique_ptr<mxArray>> arrays;
    return arrays;
}

mxArray *NewArray(mxClassID classID, size_t m, size_t n)
{
    Arrays().push_back(std::make_unique<mxArray>());
    mxArray *a = Arrays().back().get();
    a->classID = classID;
    a->m = m;
    a->n = n;
    return a;
}

size_t ElementSize(mxClassID classID)
{
    switch (classID) {
    case mxINT8_CLASS: case mxUINT8_CLASS: return 1;
    case mxINT16_CLASS: case mxUINT16_CLASS: return 2;
    case mxINT32_CLASS: case mxUINT32_CLASS: case mxSINGLE_CLASS: return 4;
    case mxINT64_CLASS: case mxUINT64_CLASS: return 8;
    default: return 0;
    }
}

}  // namespace

extern "C" {

mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity)
{
    if (m < 0 || n < 0) return nullptr;
    mxArray *a = NewArray(mxDOUBLE_CLASS, m, n);
    a->real.assign(size_t(m) * n, 0.0);
    return a;
}

mxArray *mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID classID, mxComplexity flag)
{
    if (classID == mxDOUBLE_CLASS) return mxCreateDoubleMatrix(m, n, flag);
    if (m < 0 || n < 0 || ElementSize(classID) == 0) return nullptr;
    mxArray *a = NewArray(classID, m, n);
    a->bytes.assign(size_t(m) * n * ElementSize(classID), 0);
    return a;
}

mxArray *mxCreateString(const char *str)
{
    size_t len = std::strlen(str);
    mxArray *a = NewArray(mxCHAR_CLASS, len ? 1 : 0, len);
    a->text = str;
    return a;
}

mxArray *mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char **fieldnames)
{
    if (m < 0 || n < 0 || nfields < 0) return nullptr;
    mxArray *a = NewArray(mxSTRUCT_CLASS, m, n);
    for (int i = 0; i < nfields; ++i) a->fieldNames.push_back(fieldnames[i]);
    a->fields.assign(size_t(m) * n * nfields, nullptr);
    return a;
}

int mxGetString(const mxArray *array, char *buf, mwSize buflen)
{
    if (!array || array->classID != mxCHAR_CLASS || buflen <= 0) return 1;
    size_t n = std::min(array->text.size(), size_t(buflen) - 1);
    std::memcpy(buf, array->text.data(), n);
    buf[n] = '\0';
    return array->text.size() < size_t(buflen) ? 0 : 1;
}

double *mxGetPr(const mxArray *array)
{
    return array->classID == mxDOUBLE_CLASS ? const_cast<double *>(array->real.data()) : nullptr;
}

void *mxGetData(const mxArray *array)
{
    if (array->classID == mxDOUBLE_CLASS) return mxGetPr(array);
    return const_cast<unsigned char *>(array->bytes.data());
}

double mxGetScalar(const mxArray *array)
{
    if (array->m * array->n == 0) return 0.0;
    switch (array->classID) {
    case mxDOUBLE_CLASS: return array->real[0];
    case mxCHAR_CLASS: return static_cast<unsigned char>(array->text[0]);
    case mxINT32_CLASS: { int32_t v; std::memcpy(&v, array->bytes.data(), 4); return v; }
    case mxUINT32_CLASS: { uint32_t v; std::memcpy(&v, array->bytes.data(), 4); return v; }
    default: return 0.0;
    }
}

size_t mxGetM(const mxArray *array) { return array->m; }
size_t mxGetN(const mxArray *array) { return array->n; }
size_t mxGetNumberOfElements(const mxArray *array) { return array->m * array->n; }

int mxGetNumberOfFields(const mxArray *array)
{
    return array->classID == mxSTRUCT_CLASS ? int(array->fieldNames.size()) : 0;
}

const char *mxGetFieldNameByNumber(const mxArray *array, int n)
{
    if (!array || array->classID != mxSTRUCT_CLASS || n < 0 || size_t(n) >= array->fieldNames.size())
        return nullptr;
    return array->fieldNames[n].c_str();
}

mxArray *mxGetFieldByNumber(const mxArray *array, mwIndex index, int fieldnumber)
{
    if (array->classID != mxSTRUCT_CLASS || index < 0 || size_t(index) >= array->m * array->n ||
        fieldnumber < 0 || size_t(fieldnumber) >= array->fieldNames.size())
        return nullptr;
    return array->fields[size_t(index) * array->fieldNames.size() + fieldnumber];
}

void mxSetFieldByNumber(mxArray *array, mwIndex index, int fieldnumber, mxArray *value)
{
    if (array->classID != mxSTRUCT_CLASS || index < 0 || size_t(index) >= array->m * array->n ||
        fieldnumber < 0 || size_t(fieldnumber) >= array->fieldNames.size())
        return;
    array->fields[size_t(index) * array->fieldNames.size() + fieldnumber] = value;
}

bool mxIsDouble(const mxArray *array) { return array->classID == mxDOUBLE_CLASS; }
bool mxIsChar(const mxArray *array) { return array->classID == mxCHAR_CLASS; }
bool mxIsStruct(const mxArray *array) { return array->classID == mxSTRUCT_CLASS; }
bool mxIsEmpty(const mxArray *array) { return array->m * array->n == 0; }
bool mxIsSparse(const mxArray *) { return false; }
mxClassID mxGetClassID(const mxArray *array) { return array->classID; }

double mxGetNaN(void) { return std::numeric_limits<double>::quiet_NaN(); }
bool mxIsNaN(double value) { return std::isnan(value); }

}  // extern "C"
