// Reading packed device-independent bitmaps and the colours of their palettes.
// Platform-free: a packed DIB is read byte by byte, little-endian.
#pragma once

#include <cstdint>

// A header-size field of exactly this value marks the 12-byte core header;
// every other value is read with the offsets of the 40-byte info header.
const uint32_t DIB_CORE_HEADER_SIZE = 12;

// Width, height and bit count are read at the fixed offsets of the header
// kind, whatever size the header states: the block goes on past the header,
// so a 13-byte info header still reports the bit count at offset 14. Only the
// colours-used count depends on the stated size: a header shorter than 36
// bytes has none.
uint32_t DibHeaderSize(const void *dib);
uint16_t DibWidth(const void *dib);   // low 16 bits of the width
uint16_t DibHeight(const void *dib);  // low 16 bits of the height
uint16_t DibBitCount(const void *dib);
// The colours-used field of an info header at least 36 bytes long, else 0.
uint32_t DibColoursUsed(const void *dib);

// True for 1 to 8 bits per pixel: pixels index the bitmap's own colour table.
// Every other bit count (0, 16, 24, 32, ...) carries no implied table.
bool DibIsIndexed(const void *dib);
// Bytes per stored colour-table entry: 3 for the core header, 4 otherwise.
uint32_t DibColourEntrySize(const void *dib);
// Entries the colour table holds: the colours-used count if there is one,
// else 2 to the power of the bit count for an indexed bitmap, else 0.
uint32_t DibColourTableCount(const void *dib);
// The colour table sits right after the header, at its stated size.
const uint8_t *DibColourTable(const void *dib);
// The pixel bits follow the header and the colour table.
const uint8_t *DibBits(const void *dib);
