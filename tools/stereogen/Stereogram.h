// Random-dot stereogram generation: depth maps, the dot renderer, the
// animated frame scene and the two image file formats the tool reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Depth per pixel, row-major from the top row: 0 is the far plane, 1 the near plane.
struct DepthMap {
    int width;
    int height;
    std::vector<float> depth;
};

// A two-colour picture, row-major from the top row: 1 marks a black dot, 0 white ground.
struct DotPicture {
    int width;
    int height;
    std::vector<uint8_t> black;
};

// Viewing geometry in pixels: the far plane repeats every EYE_SEPARATION / 2 pixels and
// the near plane lies DEPTH_OF_FIELD of the way from the far plane towards the eyes.
const int EYE_SEPARATION = 200;
const double DEPTH_OF_FIELD = 1.0 / 3.0;
const double DEFAULT_DENSITY = 0.23;

// The shipped animation.
const int FRAME_COUNT = 10;
const int FRAME_WIDTH = 640;
const int FRAME_HEIGHT = 480;
const int FIRST_FRAME_ID = 106;
const int MARK_WIDTH = 10;
const int MARK_TOP = 9;
const int MARK_BOTTOM = 17;
const int FRAME_MARK_COLUMN = 276;

// Largest side accepted from a depth-map file.
const int MAX_PICTURE_SIDE = 8192;

// Distance in pixels between the two picture points that show a surface point of depth z.
int SeparationForDepth(double z);

// Whether the surface point at column x of a depth row is seen by both eyes, that is,
// no nearer surface on that row blocks either line of sight.
bool SeenByBothEyes(const float *depthRow, int width, int x);

// Renders a single-image random-dot stereogram of a depth map. Free dots are black with
// probability `density`, drawn from a std::mt19937 seeded with `seed`, row by row from the
// top and right to left within a row, so equal inputs give equal pictures everywhere.
DotPicture RenderStereogram(const DepthMap &depthMap, uint32_t seed, double density);

// Paints two solid black viewing marks (MARK_WIDTH wide, rows MARK_TOP..MARK_BOTTOM),
// the first starting at `leftColumn` and the second half an eye separation to its right.
void DrawViewingMarks(DotPicture *picture, int leftColumn);

// Depth map of frame `index` (0..FRAME_COUNT-1) of the shipped animation.
DepthMap FrameDepth(int index);

// Frame `index` of the shipped animation, viewing marks included.
DotPicture RenderFrame(int index);

// A complete .bmp file (file header, 40-byte info header, black-then-white colour
// table, bottom-up rows padded to four bytes) of a picture.
std::vector<uint8_t> EncodeBmp(const DotPicture &picture);

// Reads an 8-bit greyscale PGM (binary P5 or plain P2, maxval 1..255) as a depth map,
// white nearest. Returns false with a message in `error` for anything else.
bool ParsePgm(const std::vector<uint8_t> &file, DepthMap *depthMap, std::string *error);
