// Placeholder frame writer: ten white 640x480 1-bpp frames with the two marks.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

static void put16(std::vector<uint8_t> &b, uint32_t v) { b.push_back(v & 255); b.push_back(v >> 8); }
static void put32(std::vector<uint8_t> &b, uint32_t v) { put16(b, v & 0xFFFF); put16(b, v >> 16); }

int main(int argc, char **argv)
{
    if (argc != 3 || std::string(argv[1]) != "frames") return 2;
    for (int id = 106; id <= 115; ++id) {
        std::vector<uint8_t> b;
        b.push_back('B'); b.push_back('M'); put32(b, 14 + 40 + 8 + 38400); put32(b, 0); put32(b, 62);
        put32(b, 40); put32(b, 640); put32(b, 480); put16(b, 1); put16(b, 1); put32(b, 0);
        put32(b, 38400); put32(b, 0); put32(b, 0); put32(b, 2); put32(b, 2);
        put32(b, 0); put32(b, 0x00FFFFFF);
        std::vector<uint8_t> bits(38400, 0xFF);
        for (int row = 9; row <= 17; ++row)
            for (int x : {276, 376})
                for (int c = x; c < x + 10; ++c)
                    bits[(479 - row) * 80 + c / 8] &= ~(0x80 >> (c % 8));
        b.insert(b.end(), bits.begin(), bits.end());
        std::string path = std::string(argv[2]) + "/frame" + std::to_string(id) + ".bmp";
        FILE *f = std::fopen(path.c_str(), "wb");
        if (!f) return 1;
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
    return 0;
}
