// display-resolution: texts made safe for the one line. Pure: nothing here
// reads or writes anything but its arguments.
//
// Signal safety: append runs inside signal handlers, so everything here is
// async-signal-safe, as signal-safety(7) lists: no allocation, no stdio, no
// locale, nothing but memcpy and strchr of the C library.
#include "display-resolution.h"

#include <cstring>

namespace {

constexpr char cut_mark[] = "...";
// Room is kept for the cut mark, a closing parenthesis and the line feed.
constexpr size_t line_room = line_size - (sizeof cut_mark - 1) - 2;

// Whether a character that looks printable is a line or paragraph separator,
// which some readers take for a line's end, or a bidirectional control,
// which reorders what a terminal shows.
bool reorders_or_breaks(std::uint32_t code_point)
{
    return code_point == 0x61c || code_point == 0x200e || code_point == 0x200f ||
           (code_point >= 0x2028 && code_point <= 0x202e) || (code_point >= 0x2066 && code_point <= 0x2069);
}

// The size of the printable UTF-8 character `text` starts with, or 0 for a
// control character, a backslash, a separator or bidirectional control, or
// a byte that starts no well-formed character: no overlong form, no
// surrogate, nothing beyond U+10FFFF.
size_t printable_size(const char *text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < ' ' || lead == '\\' || lead == 0x7f) {
        return 0;
    }
    size_t size = 0;
    if (lead < 0x80) {
        size = 1;
    } else if (lead >= 0xc2 && lead < 0xe0) {
        size = 2;
    } else if (lead >= 0xe0 && lead < 0xf0) {
        size = 3;
    } else if (lead >= 0xf0 && lead < 0xf5) {
        size = 4;
    }
    // The second byte's range, where the lead allows less than all: C2 80 to
    // C2 9F are the C1 control characters.
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead == 0xc2 || lead == 0xe0) {
        low = 0xa0;
    } else if (lead == 0xed) {
        high = 0x9f;
    } else if (lead == 0xf0) {
        low = 0x90;
    } else if (lead == 0xf4) {
        high = 0x8f;
    }
    std::uint32_t code_point = lead & (0xffU >> (size + 1));
    for (size_t i = 1; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xbf)) {
            return 0;
        }
        code_point = code_point << 6 | (byte & 0x3fU);
    }
    return reorders_or_breaks(code_point) ? 0 : size;
}

// Appends `text` to `line` at `*end`, with every byte that is no printable
// character written as an escape (\n, \\, \x1b), so that the line stays one
// line and sets nothing off on a terminal. Where the text does not fit, it is
// cut at a character boundary, with a mark, and the result is false: the
// line is full. No text appends nothing.
} // namespace

bool append(char *line, size_t *end, const char *text)
{
    constexpr char named[] = "\n\r\t\\";
    constexpr char names[] = "nrt\\";
    for (size_t i = 0; text != nullptr && text[i] != '\0';) {
        const size_t size = printable_size(text + i);
        const auto byte = static_cast<unsigned char>(text[i]);
        char escape[] = {'\\', 'x', "0123456789abcdef"[byte / 16], "0123456789abcdef"[byte % 16]};
        size_t escape_size = sizeof escape;
        const char *name = strchr(named, byte);
        if (name != nullptr) {
            escape[1] = names[name - named];
            escape_size = 2;
        }
        const size_t unit_size = size > 0 ? size : escape_size;
        if (*end + unit_size > line_room) {
            memcpy(line + *end, cut_mark, sizeof cut_mark - 1);
            *end += sizeof cut_mark - 1;
            return false;
        }
        memcpy(line + *end, size > 0 ? text + i : escape, unit_size);
        *end += unit_size;
        i += size > 0 ? size : 1;
    }
    return true;
}
