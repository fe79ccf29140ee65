// SPDX-License-Identifier: MIT
// Making a configuration and an alternate setting current, and binding the
// first endpoint of each kind.  No request goes to the device here except the
// alternate-setting query.
#include "cydevice.h"

void CCyDevice::SelectConfig(uint8_t config) {
    if (!Configurations[0]) return;
    ConfigIndex = 0;
    // Only a configuration that was read can become current.
    bool named = config == Configurations[0]->iConfiguration ||
                 (Configurations[1] && config == Configurations[1]->iConfiguration);
    if (named && config < MAX_CONFIGS && Configurations[config]) ConfigIndex = config;

    const CCyConfiguration *current = Configurations[ConfigIndex];
    ConfigValue = current->bConfigurationValue;
    ConfigAttributes = current->bmAttributes;
    MaxPower = current->MaxPower;
    InterfaceCount = current->bNumInterfaces;
    AltInterfaceCount = current->AltInterfaces;
    InterfaceNumber = current->AltInterfaces ? current->Interfaces[0]->bInterfaceNumber : 0;

    SelectAltSetting(QueryAltSetting());

    if (InterfaceIndex < current->AltInterfaces) {
        const CCyInterface *alt = current->Interfaces[InterfaceIndex];
        InterfaceClass = alt->bInterfaceClass;
        InterfaceSubClass = alt->bInterfaceSubClass;
        InterfaceProtocol = alt->bInterfaceProtocol;
    }
}

uint8_t CCyDevice::QueryAltSetting() {
    uint8_t setting = 0;
    if (!SendControlRequest(CYIOCTL_GET_ALT_SETTING, &setting, 1)) return 0xFF;
    return setting;
}

void CCyDevice::SelectAltSetting(uint8_t setting) {
    const CCyConfiguration *current = Configurations[ConfigIndex];
    if (!current) return;
    for (int i = 0; i < current->AltInterfaces; i++) {
        const CCyInterface *alt = current->Interfaces[i];
        if (alt->bAlternateSetting != setting) continue;
        InterfaceIndex = static_cast<uint8_t>(i);
        InterfaceClass = alt->bInterfaceClass;
        InterfaceSubClass = alt->bInterfaceSubClass;
        InterfaceProtocol = alt->bInterfaceProtocol;
        BindEndpoints();
        return;
    }
}

void CCyDevice::BindEndpoints() {
    if (ConfigCount == 0 || InterfaceCount == 0) return;
    CCyInterface *alt = Configurations[ConfigIndex]->Interfaces[InterfaceIndex];
    Endpoints = alt->EndPoints;
    Endpoints[0] = ControlEndpoint;

    IsocInEndpoint = IsocOutEndpoint = nullptr;
    BulkInEndpoint = BulkOutEndpoint = nullptr;
    InterruptInEndpoint = InterruptOutEndpoint = nullptr;

    int count = alt->bNumEndpoints < MAX_ENDPOINTS - 1 ? alt->bNumEndpoints : MAX_ENDPOINTS - 1;
    for (int i = 1; i <= count; i++) {
        CCyUSBEndPoint *ep = Endpoints[i];
        if (!ep) continue;
        if (DriverVersion < BUFFERED_BELOW_DRIVER) ep->TransferMode = Buffered;
        bool in = (ep->Address & 0x80) != 0;
        // The object's kind came from the same Attributes byte.
        switch (ep->Attributes) {
        case EP_ISOC: {
            CCyIsocEndPoint *&slot = in ? IsocInEndpoint : IsocOutEndpoint;
            if (!slot) slot = static_cast<CCyIsocEndPoint *>(ep);
            break;
        }
        case EP_BULK: {
            CCyBulkEndPoint *&slot = in ? BulkInEndpoint : BulkOutEndpoint;
            if (!slot) slot = static_cast<CCyBulkEndPoint *>(ep);
            break;
        }
        case EP_INTERRUPT: {
            CCyInterruptEndPoint *&slot = in ? InterruptInEndpoint : InterruptOutEndpoint;
            if (!slot) slot = static_cast<CCyInterruptEndPoint *>(ep);
            break;
        }
        default: break;
        }
    }
}
