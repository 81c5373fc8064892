// Header fields, colour table and pixel bits of a packed DIB in memory.
#include "animation/Dib.h"

#include <cstddef>

namespace {

const uint8_t *Bytes(const void *dib)
{
    return static_cast<const uint8_t *>(dib);
}

bool IsCoreHeader(const void *dib)
{
    return DibHeaderSize(dib) == DIB_CORE_HEADER_SIZE;
}

// Little-endian field of `width` bytes at `offset`.
uint32_t HeaderField(const void *dib, uint32_t offset, uint32_t width)
{
    const uint8_t *field = Bytes(dib) + offset;
    uint32_t value = 0;
    for (uint32_t i = width; i > 0; --i)
        value = (value << 8) | field[i - 1];
    return value;
}

// The colours-used field of an info header: 4 bytes at offset 32.
const uint32_t COLOURS_USED_OFFSET = 32;
const uint32_t COLOURS_USED_END = COLOURS_USED_OFFSET + 4;

} // namespace

uint32_t DibHeaderSize(const void *dib)
{
    const uint8_t *p = Bytes(dib);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t DibWidth(const void *dib)
{
    return uint16_t(HeaderField(dib, 4, 2));
}

uint16_t DibHeight(const void *dib)
{
    return uint16_t(HeaderField(dib, IsCoreHeader(dib) ? 6 : 8, 2));
}

uint16_t DibBitCount(const void *dib)
{
    return uint16_t(HeaderField(dib, IsCoreHeader(dib) ? 10 : 14, 2));
}

uint32_t DibColoursUsed(const void *dib)
{
    if (DibHeaderSize(dib) < COLOURS_USED_END)
        return 0;
    return HeaderField(dib, COLOURS_USED_OFFSET, 4);
}

bool DibIsIndexed(const void *dib)
{
    uint16_t bits = DibBitCount(dib);
    return bits >= 1 && bits <= 8;
}

uint32_t DibColourEntrySize(const void *dib)
{
    return IsCoreHeader(dib) ? 3 : 4;
}

uint32_t DibColourTableCount(const void *dib)
{
    uint32_t used = DibColoursUsed(dib);
    if (used != 0)
        return used;
    return DibIsIndexed(dib) ? uint32_t(1) << DibBitCount(dib) : 0;
}

const uint8_t *DibColourTable(const void *dib)
{
    return Bytes(dib) + DibHeaderSize(dib);
}

const uint8_t *DibBits(const void *dib)
{
    size_t tableBytes = size_t(DibColourTableCount(dib)) * DibColourEntrySize(dib);
    return DibColourTable(dib) + tableBytes;
}
