// Reading packed device-independent bitmaps and the colours of their palettes.
// Platform-free: a packed DIB is read byte by byte, little-endian.
#pragma once

#include <cstdint>

uint32_t DibHeaderSize(const void *dib);
uint16_t DibWidth(const void *dib);
uint16_t DibHeight(const void *dib);
uint16_t DibBitCount(const void *dib);
const uint8_t *DibBits(const void *dib);
