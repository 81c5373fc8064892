// Creates the palette object for a packed DIB from its computed LOGPALETTE.
#include "animation/Palette_win.h"

#include "animation/Palette.h"

__constinit PaletteCallTable PaletteCalls = { LocalAlloc, CreatePalette, LocalFree };

// The LOGPALETTE block is temporary: it is freed here whatever the outcome.
// A palette that cannot be created is reported once to the user; a block
// that cannot be allocated just gives null.
HPALETTE CreateDibPalette(HWND owner, const void *dib, BYTE flags)
{
    uint32_t count = DibPaletteCount(dib);
    HLOCAL block = PaletteCalls.localAlloc(LMEM_ZEROINIT, LogPaletteBytes(count));
    if (block == NULL)
        return NULL;
    FillLogPalette(static_cast<uint8_t *>(block), dib, flags);
    HPALETTE palette = PaletteCalls.createPalette(static_cast<const LOGPALETTE *>(block));
    if (palette == NULL)
        MessageBoxA(owner, "パレットができませんでした。", "PAL2", MB_ICONWARNING);
    PaletteCalls.localFree(block);
    return palette;
}
