// An independent reader and blind decoder of random-dot stereograms for the tests: it knows
// only the viewing geometry and the pixel pairing rule, and measures how faithfully a
// picture encodes a depth map.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace stereocheck {

// A black-and-white picture, row-major from the top row, 1 = black.
struct Dots {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> black;
};

inline uint32_t Le32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

inline bool ReadBytes(const std::string &path, std::vector<uint8_t> *bytes)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes->push_back((uint8_t)c);
    std::fclose(f);
    return true;
}

// Pixels of a bottom-up 1-bit .bmp whose colour 0 is black; empty on anything else.
inline Dots DotsFromBmp(const std::vector<uint8_t> &file)
{
    Dots dots;
    if (file.size() < 62 || file[0] != 'B' || file[1] != 'M' || Le32(file, 14) != 40) return dots;
    if ((file[28] | file[29] << 8) != 1 || (int32_t)Le32(file, 22) <= 0) return dots;
    int width = (int)Le32(file, 18), height = (int)Le32(file, 22);
    size_t offset = Le32(file, 10), stride = ((size_t)width + 31) / 32 * 4;
    if (file.size() < offset + stride * height) return dots;
    dots.width = width;
    dots.height = height;
    dots.black.resize((size_t)width * height);
    for (int y = 0; y < height; ++y) {
        const uint8_t *row = &file[offset + stride * (height - 1 - y)];
        for (int x = 0; x < width; ++x) dots.black[(size_t)y * width + x] = !(row[x / 8] & (0x80 >> (x % 8)));
    }
    return dots;
}

// The pixel pairing rule: the pair showing column x of row y at separation s starts here;
// odd separations put their spare pixel left on odd rows and right on even rows.
inline int PairStart(int x, int y, int s) { return x - (s + (s & y & 1)) / 2; }

// What a depth map asks of a picture: the separation of every point and whether both
// eyes see it with both of its pixels inside the picture.
struct Intent {
    int width = 0;
    int height = 0;
    std::vector<int> separation;
    std::vector<uint8_t> paired;
};

inline Intent IntentOf(const std::vector<float> &depth, int width, int height)
{
    Intent intent;
    intent.width = width;
    intent.height = height;
    intent.separation.resize(depth.size());
    intent.paired.resize(depth.size());
    for (int y = 0; y < height; ++y) {
        const float *row = &depth[(size_t)y * width];
        for (int x = 0; x < width; ++x) {
            double z = row[x];
            // Eye separation 200 px; the near plane is a third of the way from far plane to eyes.
            int s = (int)std::lround(200.0 * (3.0 - z) / (6.0 - z));
            intent.separation[(size_t)y * width + x] = s;
            int left = PairStart(x, y, s);
            bool inside = left >= 0 && left + s < width;
            // A line of sight towards either eye gains (6 - z) / 100 in depth per pixel;
            // any nearer-or-equal surface it passes over before reaching depth 1 hides the point.
            bool seen = true;
            for (int t = 1; seen; ++t) {
                double sight = z + t * (6.0 - z) / 100.0;
                if ((x - t >= 0 && row[x - t] >= sight) || (x + t < width && row[x + t] >= sight)) seen = false;
                if (sight >= 1.0) break;
            }
            intent.paired[(size_t)y * width + x] = inside && seen;
        }
    }
    return intent;
}

const int SEARCH_MIN = 60;
const int SEARCH_MAX = 140;
const int HALF_WIDTH = 5;  // decoding window 11 x 5
const int HALF_HEIGHT = 2;
const int NOT_DECODED = -1;
const int AMBIGUOUS = 0;

// Whether every pair of separation s in the window around column x lies inside the picture.
inline bool WindowFits(int x, int s, int width)
{
    return x - HALF_WIDTH - (s + 1) / 2 >= 0 && x + HALF_WIDTH + (s + 1) / 2 <= width - 1;
}

// Blind decoding: for each point, the separation in SEARCH_MIN..SEARCH_MAX under which the
// pixel pairs of an 11 x 5 window agree best, AMBIGUOUS when two separations tie,
// NOT_DECODED when the window leaves the picture. A separation counts only if the point's
// own pair agrees under it. Agreement is weighted towards the window's centre (columns
// 6, 5, ... 1 and rows 3, 2, 1 either side), and each separation is scored by the best of
// the five windows that hold the point in their middle column, so that next to a depth
// edge the side the point lies on decides.
inline std::vector<int> Decode(const Dots &dots)
{
    static const int ROW_WEIGHT[2 * HALF_HEIGHT + 1] = {1, 2, 3, 2, 1};
    int w = dots.width, h = dots.height;
    std::vector<int> best((size_t)w * h, NOT_DECODED), bestScore((size_t)w * h, -1);
    std::vector<int> prefix(w + 1, 0), boxes(w + 1, 0), rows((size_t)w * h, 0), windows((size_t)w * h, 0);
    std::vector<uint8_t> match((size_t)w * h);
    const int side = HALF_WIDTH + 1;
    for (int s = SEARCH_MIN; s <= SEARCH_MAX; ++s) {
        // Columns whose whole window has its pairs inside the picture.
        int first = std::max(HALF_WIDTH, HALF_WIDTH + (s + 1) / 2);
        int last = std::min(w - HALF_WIDTH - 1, w - 1 - HALF_WIDTH - (s + 1) / 2);
        if (first > last) continue;
        for (int y = 0; y < h; ++y) {
            const uint8_t *dot = &dots.black[(size_t)y * w];
            uint8_t *agree = &match[(size_t)y * w];
            int shift = PairStart(0, y, s); // column x pairs x + shift with x + shift + s
            int from = std::max(0, -shift), to = std::min(w, w - s - shift);
            std::fill(agree, agree + w, 0);
            for (int x = from; x < to; ++x) agree[x] = dot[x + shift] == dot[x + shift + s];
            for (int x = 0; x < w; ++x) prefix[x + 1] = prefix[x] + agree[x];
            // Sums of six, then sums of six of those: a triangle of weights over eleven columns.
            for (int x = 0; x < w; ++x) boxes[x + 1] = boxes[x] + (prefix[std::min(x + side, w)] - prefix[x]);
            int *row = &rows[(size_t)y * w];
            for (int x = HALF_WIDTH; x < w; ++x) row[x] = boxes[x + 1] - boxes[x - HALF_WIDTH];
        }
        for (int y = HALF_HEIGHT; y < h - HALF_HEIGHT; ++y) {
            int *window = &windows[(size_t)y * w];
            const int *r0 = &rows[(size_t)(y - 2) * w], *r1 = r0 + w, *r2 = r1 + w, *r3 = r2 + w, *r4 = r3 + w;
            for (int x = first; x <= last; ++x)
                window[x] = ROW_WEIGHT[0] * r0[x] + ROW_WEIGHT[1] * r1[x] + ROW_WEIGHT[2] * r2[x] +
                            ROW_WEIGHT[3] * r3[x] + ROW_WEIGHT[4] * r4[x];
        }
        for (int y = HALF_HEIGHT; y < h - HALF_HEIGHT; ++y) {
            int top = std::max(HALF_HEIGHT, y - HALF_HEIGHT), bottom = std::min(h - HALF_HEIGHT - 1, y + HALF_HEIGHT);
            for (int x = first; x <= last; ++x) {
                size_t i = (size_t)y * w + x;
                int score = 0;
                for (int shifted = top; shifted <= bottom; ++shifted)
                    score = std::max(score, windows[(size_t)shifted * w + x]);
                if (!match[i]) score = -1;
                if (score > bestScore[i]) {
                    bestScore[i] = score;
                    best[i] = s;
                } else if (score == bestScore[i] && score >= 0) {
                    best[i] = AMBIGUOUS;
                }
            }
        }
    }
    return best;
}

// Whether a window around (x, y) may involve the viewing marks (rows 9..17, columns
// 276..285 and 376..385) through any searched pair.
inline bool NearMarks(int x, int y)
{
    return y + HALF_HEIGHT >= 9 && y - HALF_HEIGHT <= 17 && x - HALF_WIDTH - SEARCH_MAX / 2 - 1 <= 385 &&
           x + HALF_WIDTH + SEARCH_MAX / 2 + 1 >= 276;
}

inline bool InMark(int x, int y)
{
    return y >= 9 && y <= 17 && ((x >= 276 && x <= 285) || (x >= 376 && x <= 385));
}

struct Quality {
    long pairs = 0, brokenPairs = 0;          // constraints and those whose pixels differ
    long uniform = 0, uniformExact = 0;       // points whose window lies on one depth
    long visible = 0, visibleExact = 0, visibleNear = 0;
    long farUniform = 0, farWrong = 0;        // far-plane points decoded otherwise or tied
    long blackDots = 0, pixels = 0;
};

// Measures a picture against what its depth map asks; with `marks`, pairs touching the
// viewing marks and windows that may reach them are left out.
inline Quality Assess(const Dots &dots, const Intent &intent, const std::vector<int> &decoded, bool marks)
{
    Quality q;
    int w = dots.width, h = dots.height;
    for (uint8_t b : dots.black) q.blackDots += b;
    q.pixels = (long)dots.black.size();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            size_t i = (size_t)y * w + x;
            if (!intent.paired[i]) continue;
            int s = intent.separation[i];
            int left = PairStart(x, y, s);
            if (marks && (InMark(left, y) || InMark(left + s, y))) continue;
            ++q.pairs;
            q.brokenPairs += dots.black[(size_t)y * w + left] != dots.black[(size_t)y * w + left + s];
        }
    }
    for (int y = HALF_HEIGHT; y < h - HALF_HEIGHT; ++y) {
        for (int x = HALF_WIDTH; x < w - HALF_WIDTH; ++x) {
            size_t i = (size_t)y * w + x;
            int s = intent.separation[i];
            if (!intent.paired[i] || !WindowFits(x, s, w) || (marks && NearMarks(x, y))) continue;
            bool oneDepth = true;
            for (int dy = -HALF_HEIGHT; dy <= HALF_HEIGHT && oneDepth; ++dy)
                for (int dx = -HALF_WIDTH; dx <= HALF_WIDTH; ++dx) {
                    size_t j = (size_t)(y + dy) * w + x + dx;
                    if (!intent.paired[j] || intent.separation[j] != s) oneDepth = false;
                }
            int got = decoded[i];
            ++q.visible;
            q.visibleExact += got == s;
            q.visibleNear += got > 0 && std::abs(got - s) <= 1;
            if (oneDepth) {
                ++q.uniform;
                q.uniformExact += got == s;
                if (s == 100) {
                    ++q.farUniform;
                    q.farWrong += got != s;
                }
            }
        }
    }
    return q;
}

inline double Share(long part, long whole) { return whole ? (double)part / whole : 0.0; }

} // namespace stereocheck
