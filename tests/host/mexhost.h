// A stand-in for the MATLAB process, for tests that load the built plug-in and
// call its mexFunction as MATLAB would.  The test executable itself defines
// every mx/mex call of platform/matlab (the six _700 names included) and
// exports them, so the dlopen'ed kelbio.mexa64 binds to these instead of its
// link stubs.
//
// CMake, in a test folder (tests/host is added before the other test folders):
//     kelb_add_host_test(my_tests my_test.cpp other.cpp [MODULE <target>] [LABELS unit])
// builds a GoogleTest executable linked with this runtime (whole archive,
// symbols exported), registers its tests with ctest, and compiles in the path
// of the module to load (default: kelbio_mex).  KELBHOST_MODULE in the
// environment overrides that path at run time.
//
// Use:
//     kelbhost::Reset();                       // fresh host state, frees arrays
//     kelbhost::Module mex;                    // the built kelbio.mexa64
//     ASSERT_TRUE(mex.Load()) << mex.LastError();
//     auto r = mex.Call(1, {kelbhost::Char("Open"), kelbhost::Char("TIRK1")});
//     r.error            // "" or the exact mexErrMsgTxt text; r.failed
//     r.out[0]           // output slots (at least one, even for nlhs 0)
//     r.warnings, r.printed, r.evals      // what this call produced
//     kelbhost::LockCount(); kelbhost::AtExitFunction();
//     kelbhost::FailAllocation(3);         // the 3rd mx allocation from now fails
//     mex.Unload();                        // MATLAB's clear: refused while locked
//
// Arrays: Double, Doubles, Sparse, Int32, Uint32, Logical, Char, Empty, Cell, Struct;
// SetField/GetField by name.  A field that was never set holds null, as in
// MATLAB.  Every array lives until Reset(); never free one yourself.
//
// The runtime is stricter than MATLAB where GNU Octave fails: calls that
// Octave answers with an error or a crash (a field of a missing element of a
// struct array, mxGetString on a struct, mxGetFieldNameByNumber on a non-struct,
// mxGetScalar on an empty array) throw HostFault, which the library must never
// provoke.
#ifndef KELB_MEXHOST_H
#define KELB_MEXHOST_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "mex.h"

namespace kelbhost {

// What mexErrMsgTxt throws; what() is the exact message.  Like Octave's own
// error exception it is a std::runtime_error, so a library that catches
// std::exception around MX calls would swallow it, and the tests notice.
struct MexError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A call that a real host would crash on or reject.
struct HostFault : std::logic_error {
    using std::logic_error::logic_error;
};

// ---- arrays (not counted as allocations of the library) ----
mxArray *Double(double value);
mxArray *Doubles(std::size_t m, std::size_t n, std::initializer_list<double> columnMajor = {});
// A sparse double: only the nonzero values are stored, as MATLAB stores them.
mxArray *Sparse(std::size_t m, std::size_t n, std::initializer_list<double> columnMajor);
mxArray *Int32(int32_t value);
mxArray *Uint32(uint32_t value);
mxArray *Logical(bool value);
mxArray *Char(const std::string &text);
mxArray *Empty();  // 0x0 double
mxArray *Cell(std::size_t m, std::size_t n);
void SetCell(mxArray *cell, std::size_t index, mxArray *value);
mxArray *Struct(const std::vector<std::string> &fields, std::size_t m = 1, std::size_t n = 1);
void SetField(mxArray *s, const std::string &field, mxArray *value, std::size_t index = 0);
mxArray *GetField(const mxArray *s, const std::string &field, std::size_t index = 0);
std::vector<std::string> FieldNames(const mxArray *s);
std::string ClassName(const mxArray *a);  // "double", "int32", "char", "struct", ...
std::string Text(const mxArray *a);       // the characters of a char array

// ---- host state ----
void Reset();  // records, lock count, exit function, allocation failure; frees every array
const std::vector<std::string> &Warnings();
const std::string &Printed();
const std::vector<std::string> &Evals();
int LockCount();
int ExtraUnlocks();  // mexUnlock calls made while the count was already 0
using ExitFunction = void (*)(void);
ExitFunction AtExitFunction();
int AtExitRegistrations();

// Makes the nth mx allocation from now (1 = the next) return null.  0 disarms.
void FailAllocation(int n);
bool AllocationFailurePending();  // armed and not yet reached
long Allocations();               // mx allocations made since the last Reset

// ---- the plug-in ----
struct CallResult {
    std::vector<mxArray *> out;  // max(nlhs, 1) slots as the library left them (MATLAB
                                 // discards them when the call failed)
    bool failed = false;         // mexErrMsgTxt ended the call
    std::string error;           // its text
    std::vector<std::string> warnings;
    std::string printed;
    std::vector<std::string> evals;
};

// The path that kelb_add_host_test compiled into the test, unless
// KELBHOST_MODULE in the environment names another.
inline std::string DefaultModulePath() {
    if (const char *env = std::getenv("KELBHOST_MODULE")) return env;
#ifdef KELBHOST_MODULE
    return KELBHOST_MODULE;
#else
    return "";
#endif
}

class Module {
public:
    explicit Module(std::string path = DefaultModulePath());
    ~Module();  // MATLAB's exit: runs the exit function even while locked
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    bool Load();
    // MATLAB's `clear`: refused (false) while the library is locked; else the
    // exit function runs and the library is unloaded.
    bool Unload();
    void Exit();  // MATLAB quitting: exit function, then unload, locked or not
    bool Loaded() const { return handle_ != nullptr; }
    // True while the dynamic loader still has the file mapped.
    bool Resident() const;
    const std::string &LastError() const { return error_; }
    const std::string &Path() const { return path_; }

    // Runs mexFunction; a MexError becomes result.failed/error.
    CallResult Call(int nlhs, std::vector<const mxArray *> inputs);
    // MATLAB's raw calling convention.
    void Raw(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

private:
    std::string path_;
    std::string error_;
    void *handle_ = nullptr;
    void (*entry_)(int, mxArray *[], int, const mxArray *[]) = nullptr;
};

}  // namespace kelbhost

#endif
