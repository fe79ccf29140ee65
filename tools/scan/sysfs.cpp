// The product string the kernel read when the device arrived, from sysfs.
// Anyone may read it, also where the device node may not be opened, so a
// board that lacks permissions is still known by its tag.
#include <dirent.h>

#include <cstdio>
#include <cstring>

#include "tools/scan/scan.h"

const char *const SysfsUsbDevices = "/sys/bus/usb/devices";

// The first line of a small file, without its line end; "" when unreadable.
static std::string FirstLine(const std::string &path) {
    char line[SCAN_TEXT_LEN] = "";
    if (FILE *file = std::fopen(path.c_str(), "r")) {
        if (std::fgets(line, sizeof line, file) == nullptr) line[0] = '\0';
        std::fclose(file);
    }
    line[std::strcspn(line, "\r\n")] = '\0';
    return line;
}

std::string SysfsProduct(const char *root, const ScanDevice &device) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", device.Vendor, device.Product);
    std::string product;
    DIR *dir = opendir(root);
    if (dir == nullptr) return product;
    while (dirent *entry = readdir(dir)) {
        // Interfaces ("1-2:1.0") and the dot entries are no devices.
        if (entry->d_name[0] == '.' || std::strchr(entry->d_name, ':') != nullptr) continue;
        std::string base = std::string(root) + "/" + entry->d_name + "/";
        // The ids too: an address may have been given to another device since.
        if (FirstLine(base + "busnum") == std::to_string(device.Bus) &&
            FirstLine(base + "devnum") == std::to_string(device.Address) &&
            FirstLine(base + "idVendor") + ":" + FirstLine(base + "idProduct") == ids) {
            product = FirstLine(base + "product");
            break;
        }
    }
    closedir(dir);
    return product;
}
