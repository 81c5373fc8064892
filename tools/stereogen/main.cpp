// stereogen: writes the saver's ten stereogram frames, or turns a depth map into a stereogram.
#include "Stereogram.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char USAGE[] =
    "Usage:\n"
    "  stereogen [--seed N] [--density P] [--marks] DEPTH.pgm OUT.bmp\n"
    "  stereogen frames DIR\n"
    "  stereogen --help\n"
    "\n"
    "Makes a random-dot stereogram (a single picture that shows depth when you\n"
    "look through it) from a depth map, and writes it as a black-and-white .bmp.\n"
    "\n"
    "DEPTH.pgm is an 8-bit greyscale PGM file (binary P5 or plain P2) of any size:\n"
    "white is nearest, black is farthest, greys lie in between. Most image editors\n"
    "save PGM; for example `convert depth.png -colorspace Gray -depth 8 depth.pgm`.\n"
    "The picture is as large as the depth map. The farthest depth repeats every\n"
    "100 pixels and the nearest every 80, so draw shapes at least about 20 pixels\n"
    "wide and 10 high, keep them 60 pixels or more from the left and right edges,\n"
    "and prefer a few flat levels or gentle slopes to fine detail.\n"
    "\n"
    "  --seed N      start the dot pattern from N (0 to 4294967295, default 1);\n"
    "                the same depth map and seed always give the same picture\n"
    "  --density P   share of black dots, from 0.05 to 0.95 (default 0.23)\n"
    "  --marks       draw two black viewing marks 100 pixels apart near the top;\n"
    "                cross or relax your eyes until you see three marks\n"
    "\n"
    "`stereogen frames DIR` writes the saver's own ten frames as\n"
    "DIR/frame106.bmp to DIR/frame115.bmp (640 x 480, 1 bit per pixel).\n";

static bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

static bool ReadFile(const std::string &path, std::vector<uint8_t> *bytes)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

static int WriteFrames(const std::string &dir)
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        std::string path = dir + "/frame" + std::to_string(FIRST_FRAME_ID + i) + ".bmp";
        if (!WriteFile(path, EncodeBmp(RenderFrame(i)))) {
            std::fprintf(stderr, "stereogen: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    return 0;
}

// Options of a depth-map conversion.
struct ConvertOptions {
    uint32_t seed;
    double density;
    bool marks;
    std::string input;
    std::string output;
};

static bool ParseSeed(const char *text, uint32_t *seed)
{
    char *end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value > 0xFFFFFFFFull) return false;
    *seed = (uint32_t)value;
    return true;
}

static bool ParseDensity(const char *text, double *density)
{
    char *end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0.05 && value <= 0.95)) return false;
    *density = value;
    return true;
}

// Fills `options` from the arguments; false (after a message) if they make no sense.
static bool ParseConvertArguments(int argc, char **argv, ConvertOptions *options)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--marks") {
            options->marks = true;
        } else if (arg == "--seed" || arg == "--density") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "stereogen: %s needs a value\n", arg.c_str());
                return false;
            }
            const char *value = argv[++i];
            bool good = arg == "--seed" ? ParseSeed(value, &options->seed) : ParseDensity(value, &options->density);
            if (!good) {
                std::fprintf(stderr, "stereogen: bad value for %s: %s\n", arg.c_str(), value);
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "stereogen: unknown option %s\n", arg.c_str());
            return false;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "stereogen: give one depth map and one output file\n");
        return false;
    }
    options->input = files[0];
    options->output = files[1];
    return true;
}

static int ConvertDepthMap(const ConvertOptions &options)
{
    std::vector<uint8_t> bytes;
    if (!ReadFile(options.input, &bytes)) {
        std::fprintf(stderr, "stereogen: cannot read %s: %s\n", options.input.c_str(), std::strerror(errno));
        return 1;
    }
    DepthMap depthMap;
    std::string error;
    if (!ParsePgm(bytes, &depthMap, &error)) {
        std::fprintf(stderr, "stereogen: %s: %s\n", options.input.c_str(), error.c_str());
        return 1;
    }
    if (depthMap.width <= EYE_SEPARATION / 2)
        std::fprintf(stderr, "stereogen: warning: a picture narrower than %d pixels shows no depth\n",
                     EYE_SEPARATION / 2 + 1);
    DotPicture picture = RenderStereogram(depthMap, options.seed, options.density);
    if (options.marks) {
        int left = depthMap.width / 2 - EYE_SEPARATION / 4 - MARK_WIDTH / 2;
        if (left < 0 || depthMap.height <= MARK_BOTTOM)
            std::fprintf(stderr, "stereogen: warning: the picture is too small for viewing marks\n");
        else
            DrawViewingMarks(&picture, left);
    }
    if (!WriteFile(options.output, EncodeBmp(picture))) {
        std::fprintf(stderr, "stereogen: cannot write %s: %s\n", options.output.c_str(), std::strerror(errno));
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "frames") == 0) {
        if (argc != 3) {
            std::fputs(USAGE, stderr);
            return 2;
        }
        return WriteFrames(argv[2]);
    }
    ConvertOptions options = {1, DEFAULT_DENSITY, false, "", ""};
    if (argc < 2 || !ParseConvertArguments(argc, argv, &options)) {
        std::fputs("Try `stereogen --help`.\n", stderr);
        return 2;
    }
    return ConvertDepthMap(options);
}
