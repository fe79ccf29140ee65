// Loading and unloading the plug-in the way MATLAB does.
#include <dlfcn.h>

#include <cstdlib>

#include "hoststate.h"

namespace kelbhost {

Module::Module(std::string path) : path_(std::move(path)) {}

Module::~Module() {
    try {
        Exit();
    } catch (const std::exception &) {
        // An exit function must not raise; the test that caused it has failed already.
    }
}

bool Module::Load() {
    if (handle_) return true;
    if (path_.empty()) {
        error_ = "no module to load";
        return false;
    }
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        error_ = dlerror();
        return false;
    }
    entry_ = reinterpret_cast<decltype(entry_)>(dlsym(handle_, "mexFunction"));
    if (!entry_) {
        error_ = "no mexFunction in " + path_;
        dlclose(handle_);
        handle_ = nullptr;
        return false;
    }
    return true;
}

bool Module::Unload() {
    if (!handle_) return true;
    if (State().locks > 0) return false;
    Exit();
    return true;
}

void Module::Exit() {
    if (!handle_) return;
    HostState &s = State();
    ExitFunction f = s.exitFcn;
    s.exitFcn = nullptr;
    if (f) f();
    s.locks = 0;
    dlclose(handle_);
    handle_ = nullptr;
    entry_ = nullptr;
}

bool Module::Resident() const {
    void *h = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return false;
    dlclose(h);
    return true;
}

void Module::Raw(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    if (!entry_) throw HostFault("the module is not loaded");
    entry_(nlhs, plhs, nrhs, prhs);
}

CallResult Module::Call(int nlhs, std::vector<const mxArray *> inputs) {
    CallResult r;
    r.out.assign(static_cast<std::size_t>(nlhs > 1 ? nlhs : 1), nullptr);
    HostState &s = State();
    std::size_t warned = s.warnings.size(), printed = s.printed.size(), evals = s.evals.size();
    try {
        Raw(nlhs, r.out.data(), static_cast<int>(inputs.size()), inputs.data());
    } catch (const MexError &e) {
        r.failed = true;
        r.error = e.what();
    }
    r.warnings.assign(s.warnings.begin() + static_cast<std::ptrdiff_t>(warned), s.warnings.end());
    r.printed = s.printed.substr(printed);
    r.evals.assign(s.evals.begin() + static_cast<std::ptrdiff_t>(evals), s.evals.end());
    return r;
}

}  // namespace kelbhost
