// The tool's file formats: 1-bit .bmp output and greyscale PGM depth-map input.
#include "Stereogram.h"

static void Put16(std::vector<uint8_t> &out, uint32_t value)
{
    out.push_back((uint8_t)(value & 0xFF));
    out.push_back((uint8_t)((value >> 8) & 0xFF));
}

static void Put32(std::vector<uint8_t> &out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::vector<uint8_t> EncodeBmp(const DotPicture &picture)
{
    const uint32_t headersSize = 14 + 40 + 2 * 4;
    uint32_t stride = ((uint32_t)picture.width + 31) / 32 * 4;
    uint32_t imageSize = stride * (uint32_t)picture.height;
    std::vector<uint8_t> out;
    out.reserve(headersSize + imageSize);
    out.push_back('B');
    out.push_back('M');
    Put32(out, headersSize + imageSize);
    Put32(out, 0);
    Put32(out, headersSize);
    Put32(out, 40);
    Put32(out, (uint32_t)picture.width);
    Put32(out, (uint32_t)picture.height); // positive: bottom row first
    Put16(out, 1);
    Put16(out, 1);
    Put32(out, 0);
    Put32(out, imageSize);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 2);
    Put32(out, 2);
    Put32(out, 0x00000000); // entry 0: black
    Put32(out, 0x00FFFFFF); // entry 1: white
    for (int y = picture.height - 1; y >= 0; --y) {
        const uint8_t *dots = &picture.black[(size_t)y * picture.width];
        size_t rowStart = out.size();
        out.resize(rowStart + stride, 0);
        for (int x = 0; x < picture.width; ++x) {
            if (!dots[x]) out[rowStart + x / 8] |= (uint8_t)(0x80 >> (x % 8));
        }
    }
    return out;
}

// Cursor over a PGM header: whitespace and '#' comments separate the fields.
struct PgmCursor {
    const std::vector<uint8_t> *file;
    size_t at;
};

static bool IsPgmSpace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

static void SkipPgmSeparators(PgmCursor *cursor)
{
    const std::vector<uint8_t> &file = *cursor->file;
    while (cursor->at < file.size()) {
        if (IsPgmSpace(file[cursor->at])) {
            ++cursor->at;
        } else if (file[cursor->at] == '#') {
            while (cursor->at < file.size() && file[cursor->at] != '\n' && file[cursor->at] != '\r') ++cursor->at;
        } else {
            break;
        }
    }
}

// Reads a decimal number of at most `limit`; false if there is none or it is larger.
static bool ReadPgmNumber(PgmCursor *cursor, long limit, long *value)
{
    SkipPgmSeparators(cursor);
    const std::vector<uint8_t> &file = *cursor->file;
    size_t start = cursor->at;
    long number = 0;
    while (cursor->at < file.size() && file[cursor->at] >= '0' && file[cursor->at] <= '9') {
        number = number * 10 + (file[cursor->at] - '0');
        if (number > limit) return false;
        ++cursor->at;
    }
    if (cursor->at == start) return false;
    *value = number;
    return true;
}

bool ParsePgm(const std::vector<uint8_t> &file, DepthMap *depthMap, std::string *error)
{
    if (file.size() < 2 || file[0] != 'P' || (file[1] != '5' && file[1] != '2')) {
        *error = "not a greyscale PGM file (it must start with P5 or P2)";
        return false;
    }
    bool plain = file[1] == '2';
    PgmCursor cursor = {&file, 2};
    long width = 0, height = 0, maxValue = 0;
    if (!ReadPgmNumber(&cursor, MAX_PICTURE_SIDE, &width) || !ReadPgmNumber(&cursor, MAX_PICTURE_SIDE, &height) ||
        width < 1 || height < 1) {
        *error = "the width and height must be whole numbers from 1 to " + std::to_string(MAX_PICTURE_SIDE);
        return false;
    }
    if (!ReadPgmNumber(&cursor, 255, &maxValue) || maxValue < 1) {
        *error = "the maximum grey value must be from 1 to 255 (8-bit greyscale)";
        return false;
    }
    size_t count = (size_t)width * (size_t)height;
    DepthMap map = {(int)width, (int)height, std::vector<float>(count)};
    if (plain) {
        for (size_t i = 0; i < count; ++i) {
            long value = 0;
            if (!ReadPgmNumber(&cursor, maxValue, &value)) {
                *error = "a grey value is missing or larger than the maximum";
                return false;
            }
            map.depth[i] = (float)value / (float)maxValue;
        }
    } else {
        // Exactly one whitespace byte ends the header of a binary PGM.
        if (cursor.at >= file.size() || !IsPgmSpace(file[cursor.at])) {
            *error = "the header does not end with a whitespace byte";
            return false;
        }
        ++cursor.at;
        if (file.size() - cursor.at < count) {
            *error = "the file is shorter than its width and height say";
            return false;
        }
        for (size_t i = 0; i < count; ++i) {
            uint8_t value = file[cursor.at + i];
            if (value > maxValue) {
                *error = "a grey value is larger than the maximum";
                return false;
            }
            map.depth[i] = (float)value / (float)maxValue;
        }
    }
    *depthMap = map;
    return true;
}
