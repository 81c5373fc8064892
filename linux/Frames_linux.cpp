// The ten frame files, linked into the program whole (see linux/CMakeLists.txt),
// and the player that steps through them.
#include <stdio.h>

#include "animation/Dib.h"
#include "linux/Saver_linux.h"

extern "C" const unsigned char zembloid_frame106[], zembloid_frame107[], zembloid_frame108[],
    zembloid_frame109[], zembloid_frame110[], zembloid_frame111[], zembloid_frame112[],
    zembloid_frame113[], zembloid_frame114[], zembloid_frame115[];
static const unsigned char *const FRAME_FILES[FRAME_COUNT] = {
    zembloid_frame106, zembloid_frame107, zembloid_frame108, zembloid_frame109,
    zembloid_frame110, zembloid_frame111, zembloid_frame112, zembloid_frame113,
    zembloid_frame114, zembloid_frame115,
};
// The packed DIB starts after the file header.
static const int BMP_FILE_HEADER_SIZE = 14;

// The packed DIB of frame `index` (0..9), or null when it is not a 1-bit
// bitmap with two colours.
static const void *FrameDib(int index)
{
    const unsigned char *file = FRAME_FILES[index];
    if (file[0] != 'B' || file[1] != 'M') return nullptr;
    const void *dib = file + BMP_FILE_HEADER_SIZE;
    if (DibBitCount(dib) != 1 || DibColourTableCount(dib) < 2) return nullptr;
    return dib;
}

// All ten frames, checked; false (after one line on stderr) when one is bad.
static bool ReadFrameDibs(const void *dibs[FRAME_COUNT])
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        dibs[i] = FrameDib(i);
        if (!dibs[i]) {
            fprintf(stderr, "zembloid: frame %d is not a 1-bit bitmap\n", FIRST_FRAME_ID + i);
            return false;
        }
    }
    return true;
}

bool StartPlayer(LinuxPlayer *player)
{
    if (!ReadFrameDibs(player->dibs)) return false;
    FrameColours(player->dibs[0], player->colours);
    player->frameWidth = DibWidth(player->dibs[0]);
    player->frameHeight = DibHeight(player->dibs[0]);
    player->frameIndex = 0;
    player->direction = +1;
    player->shownIndex = -1;
    return true;
}
