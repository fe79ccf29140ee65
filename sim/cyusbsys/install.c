/* Installs the stand-in CyUSB driver in a Wine prefix, once per prefix:
 *   kelbcyusb-install install <folder with kelbcyusb.inf and kelbcyusb.sys>
 *     creates the root devices ROOT\KELBCYUSB\0000.. (one per board
 *     position), installs the driver on them and starts it;
 *   kelbcyusb-install wait [ms]
 *     waits until the driver's control device answers (every later Wine
 *     session starts the driver by itself).
 * Exits 0 on success. */
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "boardctl.h"

static const GUID NoClass = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

static int Fail(const char *what)
{
    fprintf(stderr, "kelbcyusb-install: %s failed: %lu\n", what, GetLastError());
    return 1;
}

static int Install(const char *folder)
{
    static const char hardwareId[] = "root\\kelbcyusb\0";
    char inf[MAX_PATH];
    BOOL reboot = FALSE;
    int i;
    snprintf(inf, sizeof inf, "%s\\kelbcyusb.inf", folder);
    for (i = 0; i < KELB_SLOTS; i++) {
        char instance[64];
        SP_DEVINFO_DATA device;
        HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
        memset(&device, 0, sizeof device);
        device.cbSize = sizeof device;
        if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
        snprintf(instance, sizeof instance, "root\\kelbcyusb\\%04d", i);
        if (!SetupDiCreateDeviceInfoA(set, instance, &NoClass, NULL, NULL, 0, &device) ||
            !SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, (const BYTE *)hardwareId,
                                               sizeof hardwareId) ||
            !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
            return Fail(instance);
        SetupDiDestroyDeviceInfoList(set);
    }
    if (!UpdateDriverForPlugAndPlayDevicesA(NULL, "root\\kelbcyusb", inf, INSTALLFLAG_FORCE, &reboot))
        return Fail("UpdateDriverForPlugAndPlayDevicesA");
    /* The service database stays locked for a moment after the install. */
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, "kelbcyusb", SERVICE_ALL_ACCESS) : NULL;
    if (!service) return Fail("OpenServiceA");
    for (i = 0; i < 200; i++) {
        if (StartServiceA(service, 0, NULL) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) break;
        if (GetLastError() != ERROR_SERVICE_DATABASE_LOCKED) return Fail("StartServiceA");
        Sleep(100);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static int Wait(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE control = CreateFileA(KELB_CONTROL_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (control != INVALID_HANDLE_VALUE) {
            CloseHandle(control);
            return 0;
        }
        if (GetTickCount() - start > ms) return Fail("waiting for the control device");
        Sleep(20);
    }
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "install") == 0) return Install(argv[2]) || Wait(20000);
    if (argc >= 2 && strcmp(argv[1], "wait") == 0) return Wait(argc > 2 ? (DWORD)atol(argv[2]) : 20000);
    fprintf(stderr, "usage: kelbcyusb-install install <folder> | wait [ms]\n");
    return 2;
}
