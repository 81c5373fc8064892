// Command-line scanning, kept free of the platform so it can be tested natively.
#include "host/CommandLine.h"

const char *NextSingleByte(const char *text)
{
    return *text ? text + 1 : text;
}

// Bytes 0x80 and above count as printable: they start or continue double-byte
// characters of the system code page.
static bool AboveBlank(char c)
{
    return (unsigned char)c > ' ';
}

const char *CommandTail(const char *commandLine, NextCharacterProc next)
{
    const char *p = commandLine;
    if (*p == '"') {
        p = next(p);
        while (*p && *p != '"') p = next(p);
        if (*p == '"') p = next(p);
    } else {
        while (AboveBlank(*p)) p = next(p);
    }
    while (*p && !AboveBlank(*p)) ++p;
    return p;
}

static const char *SkipBlanks(const char *p)
{
    while (*p == ' ') ++p;
    return p;
}

ModeRequest ScanCommandTail(const char *tail)
{
    const char *p = tail;
    for (;;) {
        switch (*p) {
        case '\0':
            return {MODE_CONFIGURE, p};
        case ' ':
        case '-':
        case '/':
            ++p;
            continue;
        case 'A':
        case 'a':
            return {MODE_CHANGE_PASSWORD, SkipBlanks(p + 1)};
        case 'C':
        case 'c':
            return {MODE_CONFIGURE_OWNED, p + 1};
        case 'L':
        case 'l':
        case 'P':
        case 'p':
            return {MODE_PREVIEW, SkipBlanks(p + 1)};
        case 'S':
        case 's':
            return {MODE_SAVER, p + 1};
        default:
            return {MODE_REFUSED, p};
        }
    }
}

uint32_t ParseWindowHandle(const char *text)
{
    uint32_t value = 0;
    for (const char *p = text; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + (uint32_t)(*p - '0');
    return value;
}
