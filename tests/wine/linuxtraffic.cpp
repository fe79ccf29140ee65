// kelbio-traffic: the Linux build's transcript of the traffic in traffic.h,
// on the virtual libusb bus, for the Wine runs to compare with.
#include <cstdio>

#include "mexhost.h"
#include "sim/usb/kelbsim.h"
#include "traffic.h"

int main()
{
    std::string transcript;
    for (const traffic::Model &model : traffic::Models) {
        kelbsim::Reset();
        kelbhost::Reset();
        const int device = kelbsim::AddBoard(model.row);
        kelbhost::Module mex(KELB_LINUX_MODULE);
        if (!mex.Load()) {
            std::fprintf(stderr, "kelbio-traffic: %s\n", mex.LastError().c_str());
            return 1;
        }
        traffic::Call call = [&mex](int nlhs, std::vector<const mxArray *> in, std::string *error) {
            kelbhost::CallResult r = mex.Call(nlhs, std::move(in));
            *error = r.error;
            return r.out;
        };
        transcript += traffic::Run(model, call, [device] { return kelbsim::Received(device); });
    }
    std::fputs(transcript.c_str(), stdout);
    return 0;
}
