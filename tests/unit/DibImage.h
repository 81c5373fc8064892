// Packed DIBs assembled byte by byte for the bitmap and palette tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

struct DibLayout {
    uint32_t headerSize;
    uint32_t width;
    uint32_t height;
    uint16_t bitCount;
    uint32_t coloursUsed;   // written at offset 32 of an info header
    uint32_t tableEntries;  // stored colour-table entries after the header
};

inline void PutLE(std::vector<uint8_t> &bytes, size_t offset, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[offset + i] = uint8_t(value >> (8 * i));
}

// Header, then `tableEntries` stored colours (entry i: blue i, green 255 - i,
// red i ^ 0x5A, reserved 0xEE). Info-header fields are written at their usual
// offsets even when the stated size is shorter, so that a reader ignoring the
// size field would see them; the bytes end there or after the table.
inline std::vector<uint8_t> MakeDib(const DibLayout &layout)
{
    bool core = layout.headerSize == 12;
    size_t entrySize = core ? 3 : 4;
    size_t tableStart = layout.headerSize;
    size_t fieldsEnd = core ? 12 : 40;
    size_t total = tableStart + entrySize * layout.tableEntries;
    std::vector<uint8_t> bytes(total > fieldsEnd ? total : fieldsEnd, 0);
    PutLE(bytes, 0, layout.headerSize, 4);
    if (core) {
        PutLE(bytes, 4, layout.width, 2);
        PutLE(bytes, 6, layout.height, 2);
        PutLE(bytes, 8, 1, 2);
        PutLE(bytes, 10, layout.bitCount, 2);
    } else {
        PutLE(bytes, 4, layout.width, 4);
        PutLE(bytes, 8, layout.height, 4);
        PutLE(bytes, 12, 1, 2);
        PutLE(bytes, 14, layout.bitCount, 2);
        PutLE(bytes, 32, layout.coloursUsed, 4);
    }
    for (uint32_t i = 0; i < layout.tableEntries; ++i) {
        uint8_t *entry = &bytes[tableStart + entrySize * i];
        entry[0] = uint8_t(i);
        entry[1] = uint8_t(255 - i);
        entry[2] = uint8_t(i ^ 0x5A);
        if (!core)
            entry[3] = 0xEE;
    }
    return bytes;
}

// Holds a copy of some bytes so that they end exactly where an inaccessible
// page begins: reading one byte past them crashes the test.
class GuardedBytes {
public:
    explicit GuardedBytes(const std::vector<uint8_t> &bytes)
    {
        size_t page = size_t(sysconf(_SC_PAGESIZE));
        span = ((bytes.size() + page - 1) / page + 1) * page;
        base = static_cast<uint8_t *>(
            mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + span - page, page, PROT_NONE);
        start = base + span - page - bytes.size();
        memcpy(start, bytes.data(), bytes.size());
    }
    ~GuardedBytes() { munmap(base, span); }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;
    const uint8_t *data() const { return start; }

private:
    uint8_t *base;
    uint8_t *start;
    size_t span;
};
