/* The FX2 board as the CyUSB driver presents it: one configuration with one
 * interface, bulk OUT 0x02 and bulk IN 0x86 of 512 bytes, and the strings
 * besides the product string.  Plain C, shared by the simulated driver of
 * the native tests (sim/cyusb) and the stand-in kernel driver (sim/cyusbsys),
 * so both serve the same board. */
#ifndef KELBSIM_FX2BOARD_H
#define KELBSIM_FX2BOARD_H

#define KELB_FX2_BULK_OUT 0x02
#define KELB_FX2_BULK_IN 0x86
#define KELB_FX2_IPRODUCT 15 /* offset of iProduct in the device descriptor */

static const unsigned char KELB_FX2_DEVICE_DESCRIPTOR[18] = {18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, 0xB4,
                                                             0x04, 0x04, 0x10, 0x00, 0xA0, 1, 2, 3, 1};
static const unsigned char KELB_FX2_CONFIG_SET[32] = {
    9, 2, 32, 0, 1, 1, 0, 0x80, 50,                    /* configuration */
    9, 4, 0, 0, 2, 0xFF, 0, 0, 0,                      /* interface 0, two endpoints */
    7, 5, KELB_FX2_BULK_OUT, 2, 0x00, 0x02, 0,         /* bulk OUT, 512 bytes */
    7, 5, KELB_FX2_BULK_IN, 2, 0x00, 0x02, 0};         /* bulk IN, 512 bytes */
static const unsigned char KELB_FX2_LANGUAGES[4] = {4, 3, 0x09, 0x04}; /* US English */

#define KELB_FX2_MANUFACTURER "Cypress"
#define KELB_FX2_DEVICE_NAME "CyUSB"
#define KELB_FX2_FRIENDLY_NAME "Cypress FX2 USB board"

#endif
