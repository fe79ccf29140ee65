#include "usb/linux/identify.h"

#include <strings.h>

#include <cstring>

bool IsBlankFX2(const libusb_device_descriptor &desc) {
    return desc.idVendor == FX2_VENDOR_ID && desc.idProduct == FX2_PRODUCT_ID;
}

int ReadProduct(libusb_device_handle *handle, const libusb_device_descriptor &desc,
                char (&product)[KELB_PRODUCT_LEN]) {
    auto *buffer = reinterpret_cast<unsigned char *>(product);
    int length = libusb_get_string_descriptor_ascii(handle, desc.iProduct, buffer, KELB_PRODUCT_LEN);
    // libusb terminates the text, but a full buffer is cut before trusting it.
    product[length <= 0 ? 0 : length < KELB_PRODUCT_LEN ? length : KELB_PRODUCT_LEN - 1] = '\0';
    return length;
}

bool TagMatches(const char *product, const char *tag) {
    const char *open = std::strrchr(product, '(');
    return open != nullptr && strcasecmp(open, tag) == 0;
}
