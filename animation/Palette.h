// The colours of a logical palette built from a packed DIB, computed without
// the platform: the entry count and the filled LOGPALETTE byte block.
#pragma once

#include <cstddef>
#include <cstdint>

const uint32_t PALETTE_MAX_ENTRIES = 256;
const uint32_t PALETTE_DEFAULT_ENTRIES = 224;  // taken when nothing states a count
const uint16_t LOGPALETTE_VERSION = 0x300;

// 256 distinct colours as parallel arrays of red, green and blue levels: the
// twenty static colours, 18 hue families (six tints, the pure colour, five
// shades) and a ramp of twenty greys.
struct PaletteTable {
    uint8_t red[PALETTE_MAX_ENTRIES];
    uint8_t green[PALETTE_MAX_ENTRIES];
    uint8_t blue[PALETTE_MAX_ENTRIES];
};
extern const PaletteTable BuiltInPalette;

// Entries of the palette made for `dib`, never more than 256:
// - 1 to 8 bits per pixel: the colour-table count (colours-used, else 2 to
//   the power of the bit count), read from the bitmap's own table;
// - any other bit count: the colours-used count, else 224, taken from
//   BuiltInPalette (the bitmap's stored colours are not used).
uint32_t DibPaletteCount(const void *dib);

// Size of a LOGPALETTE block with `count` entries: 4 + 4 * count bytes.
size_t LogPaletteBytes(uint32_t count);

// Writes the LOGPALETTE for `dib` into `block`, which must hold
// LogPaletteBytes(DibPaletteCount(dib)) bytes: version 0x300 and the count as
// 16-bit little-endian values, then red, green, blue and `flags` per entry.
// Stored table entries are read blue, green, red from the colour table after
// the header; their fourth (reserved) byte is never read.
void FillLogPalette(uint8_t *block, const void *dib, uint8_t flags);
