// Writes a 32 x 32, 16-colour .ico file from a character grid: one line per
// pixel row, '.' for a transparent pixel, a hex digit for a palette index of the
// standard 16-colour palette. Lines starting with '#' are comments.
// Usage: icongen GRID.txt OUT.ico
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

static const int SIZE = 32;
static const int TRANSPARENT_PIXEL = -1;

// The standard 16-colour palette as red, green, blue.
static const uint8_t STANDARD_PALETTE[16][3] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}};

static int PixelValue(char c)
{
    if (c == '.') return TRANSPARENT_PIXEL;
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -2;
}

// Reads the grid into pixels[row][column]; reports the first fault and returns false.
static bool ReadGrid(const char *path, std::vector<std::vector<int>> &pixels)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "icongen: cannot read %s\n", path);
        return false;
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if ((int)line.size() != SIZE) {
            std::fprintf(stderr, "icongen: %s:%d: row is %zu pixels wide, not %d\n", path,
                         lineNumber, line.size(), SIZE);
            return false;
        }
        std::vector<int> row;
        for (char c : line) {
            int value = PixelValue(c);
            if (value == -2) {
                std::fprintf(stderr, "icongen: %s:%d: unknown pixel '%c'\n", path, lineNumber, c);
                return false;
            }
            row.push_back(value);
        }
        pixels.push_back(row);
    }
    if ((int)pixels.size() != SIZE) {
        std::fprintf(stderr, "icongen: %s: %zu rows, not %d\n", path, pixels.size(), SIZE);
        return false;
    }
    return true;
}

static void Put16(std::vector<uint8_t> &out, uint32_t value)
{
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}

static void Put32(std::vector<uint8_t> &out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// The icon image: header (double height for colour and mask), palette, the
// 4-bit colour rows and the 1-bit mask rows, both bottom row first. A
// transparent pixel has colour 0 and mask bit 1.
static std::vector<uint8_t> BuildImage(const std::vector<std::vector<int>> &pixels)
{
    const uint32_t colourRowBytes = SIZE / 2;  // already a multiple of 4
    const uint32_t maskRowBytes = 4;           // 32 bits
    std::vector<uint8_t> image;
    Put32(image, 40);
    Put32(image, SIZE);
    Put32(image, SIZE * 2);
    Put16(image, 1);
    Put16(image, 4);
    Put32(image, 0);
    Put32(image, (colourRowBytes + maskRowBytes) * SIZE);
    Put32(image, 0);
    Put32(image, 0);
    Put32(image, 0);
    Put32(image, 0);
    for (const uint8_t *rgb : STANDARD_PALETTE) {
        image.push_back(rgb[2]);
        image.push_back(rgb[1]);
        image.push_back(rgb[0]);
        image.push_back(0);
    }
    for (int y = SIZE - 1; y >= 0; --y) {
        for (int x = 0; x < SIZE; x += 2) {
            int left = pixels[y][x] < 0 ? 0 : pixels[y][x];
            int right = pixels[y][x + 1] < 0 ? 0 : pixels[y][x + 1];
            image.push_back((uint8_t)((left << 4) | right));
        }
    }
    for (int y = SIZE - 1; y >= 0; --y) {
        for (int x = 0; x < SIZE; x += 8) {
            uint8_t bits = 0;
            for (int i = 0; i < 8; ++i) {
                if (pixels[y][x + i] == TRANSPARENT_PIXEL) bits |= (uint8_t)(0x80 >> i);
            }
            image.push_back(bits);
        }
    }
    return image;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: icongen GRID.txt OUT.ico\n");
        return 2;
    }
    std::vector<std::vector<int>> pixels;
    if (!ReadGrid(argv[1], pixels)) return 1;
    std::vector<uint8_t> image = BuildImage(pixels);

    std::vector<uint8_t> file;
    Put16(file, 0);  // reserved
    Put16(file, 1);  // icon
    Put16(file, 1);  // one image
    file.push_back(SIZE);
    file.push_back(SIZE);
    file.push_back(16);  // colours
    file.push_back(0);
    Put16(file, 1);  // planes
    Put16(file, 4);  // bits per pixel
    Put32(file, (uint32_t)image.size());
    Put32(file, 6 + 16);
    file.insert(file.end(), image.begin(), image.end());

    FILE *out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "icongen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
