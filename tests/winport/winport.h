// Helpers of the port binding tests: boards on the simulated CyUSB driver and
// what crossed the bus to them.
#ifndef KELB_WINPORT_TEST_H
#define KELB_WINPORT_TEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "mexhost.h"
#include "sim/cyusb/cyusbsim.h"
#include "usb/windows/cyusbdriver.h"
#include "usb/windows/endpoints.h"

namespace winport {

// The product string a board of model row n carries, as on the Linux bus.
inline std::string Product(const std::string &model, int n)
{
    return "KELBIO " + model + " board (0." + std::to_string(n) + ")";
}

inline uint8_t EndpointOf(const cyusbsim::Request &r)
{
    return r.Input.size() >= sizeof(TransferHeader) ? r.Input[offsetof(TransferHeader, EndpointAddress)] : 0;
}

inline bool IsDataTransfer(const cyusbsim::Request &r)
{
    return r.Code == CYIOCTL_DIRECT_TRANSFER || r.Code == CYIOCTL_BUFFERED_TRANSFER;
}

// Payloads that reached device's bulk OUT endpoint 0x02.
inline std::vector<std::vector<uint8_t>> Sent(int device)
{
    std::vector<std::vector<uint8_t>> packets;
    for (const cyusbsim::Request &r : cyusbsim::Log())
        if (r.Device == device && IsDataTransfer(r) && EndpointOf(r) == 0x02) packets.push_back(r.Data);
    return packets;
}

// Data transfer requests on one of device's endpoints.
inline int Transfers(int device, uint8_t endpoint)
{
    int n = 0;
    for (const cyusbsim::Request &r : cyusbsim::Log())
        if (r.Device == device && IsDataTransfer(r) && EndpointOf(r) == endpoint) ++n;
    return n;
}

inline std::vector<double> Column(const mxArray *a)
{
    if (!a || !mxIsDouble(a)) return {};
    const double *p = mxGetPr(a);
    return std::vector<double>(p, p + mxGetNumberOfElements(a));
}

inline double Scalar(const mxArray *a) { return a ? mxGetScalar(a) : -1.0; }

inline double FieldValue(const mxArray *port, const char *field)
{
    return Scalar(kelbhost::GetField(port, field));
}

}  // namespace winport

#endif
