// Reading the saver's command line: where the switches start, which mode the
// first switch selects, and the decimal window handle that follows some of them.
#pragma once

#include <cstdint>

enum SaverMode {
    MODE_CONFIGURE,         // no switch at all: configure with no owner window
    MODE_CONFIGURE_OWNED,   // C: configure, owned by the foreground window
    MODE_SAVER,             // S: full-screen saver
    MODE_PREVIEW,           // P or L: preview inside the window named by `rest`
    MODE_CHANGE_PASSWORD,   // A: change the password, owner named by `rest`
    MODE_REFUSED            // any other first significant character
};

struct ModeRequest {
    SaverMode mode;
    const char *rest;  // text after the mode letter (and its blanks for P, L and A)
};

// Steps over one character of a command line. The product uses the system's
// CharNextA so that double-byte characters are stepped whole; it must not step
// past the terminating zero.
typedef const char *(*NextCharacterProc)(const char *text);

const char *NextSingleByte(const char *text);

// The command line with the program name and the blanks and control
// characters after it removed. A quoted program name ends at the closing
// quote; an unterminated quote takes the whole line.
const char *CommandTail(const char *commandLine, NextCharacterProc next);

// Picks the mode from the first character of the tail that is not a blank,
// '-' or '/'. Letters are case-insensitive; only the first one counts.
ModeRequest ScanCommandTail(const char *tail);

// The decimal number at the start of the text, wrapping at 32 bits; 0 when the
// text does not start with a digit.
uint32_t ParseWindowHandle(const char *text);
