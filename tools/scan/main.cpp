// kelbio-scan [--json]: lists the USB devices that are or could be kelbio
// boards and the port names Open binds to them.  Exit status 0 when a board
// was found, 1 when none, 2 on a usage error.
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/scan/scan.h"

static const char kUsage[] =
    "Usage: kelbio-scan [--json]\n"
    "Lists the USB devices that are or could be kelbio boards (on Windows: every device bound to the\n"
    "CyUSB driver), in the order Open selects them,\n"
    "with the port name Open binds to each board and what stops the others.\n"
    "  --json  the same as one JSON document\n"
    "Exit status: 0 when at least one board was found, 1 when none, 2 on a usage error.\n";

int main(int argc, char **argv) {
    bool json = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "kelbio-scan: unknown argument '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
#ifdef _WIN32
    // The same bytes as on Linux: no carriage returns added.
    _setmode(_fileno(stdout), _O_BINARY);
    ScanResult result = Scan(nullptr);
#else
    ScanResult result = Scan(SysfsUsbDevices);
#endif
    std::string report = json ? JsonReport(result) : TextReport(result);
    std::fwrite(report.data(), 1, report.size(), stdout);
    return result.Boards > 0 ? 0 : 1;
}
