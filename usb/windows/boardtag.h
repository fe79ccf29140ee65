// SPDX-License-Identifier: MIT
// How the Windows builds tell a board: the tag at the end of the product
// string of a device bound to the CyUSB driver.  The port binding's Open and
// kelbio-scan both decide by these, so they always agree.
#ifndef KELB_BOARDTAG_H
#define KELB_BOARDTAG_H

#include "cydevice.h"

constexpr int PRODUCTLEN = 200;  // 199 characters and the terminator

// The device's Product string as 8-bit text, always terminated.
void ProductText(const CCyDevice &device, char (&text)[PRODUCTLEN]);
// The text, from its last '(' to the end, equals the tag, letter case ignored.
bool TextHasTag(const char *text, const char *tag);

#endif
