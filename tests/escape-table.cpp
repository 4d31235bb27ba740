// Checks the program's escapes (src/escape.cpp) against a table of hostile
// texts: each appended to an empty line must come out exactly as given, the
// line full or not. Prints each mismatch; the status is their number.
#include "../src/display-resolution.h"

#include <cstdio>
#include <string>

namespace {

// A text that fills the line's room (less the cut mark, ")" and "\n") but for `room` bytes, then `tail`.
std::string filling(size_t room, const char *tail)
{
    return std::string(line_size - 5 - room, 'a') + tail;
}

const struct {
    std::string text, escaped;
    bool fits;
} rows[] = {
    {"", "", true},
    {"plain é € \xf0\x9f\x98\x80", "plain é € \xf0\x9f\x98\x80", true},
    {"a\tb\nc\rd\x1b[2J\x07\x7f", "a\\tb\\nc\\rd\\x1b[2J\\x07\\x7f", true},
    {"C:\\path", "C:\\\\path", true},
    {"\xc2\x9b" "1m\xc2\x85", "\\xc2\\x9b1m\\xc2\\x85", true}, // C1 controls: CSI and NEL.
    // Overlong ESC and "/", a surrogate, beyond U+10FFFF.
    {"\xe0\x80\x9b \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80", "\\xe0\\x80\\x9b \\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80",
     true},
    // A lone continuation byte, bytes that start nothing, sequences cut short.
    {"\x80 \xf5\xff é\xc3", "\\x80 \\xf5\\xff é\\xc3", true},
    {"\xe2\x82", "\\xe2\\x82", true},
    // Line and paragraph separators; bidirectional embeddings, overrides, isolates, marks.
    {"a\xe2\x80\xa8z\xe2\x80\xa9", "a\\xe2\\x80\\xa8z\\xe2\\x80\\xa9", true},
    {"\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c",
     "\\xe2\\x80\\xaa\\xe2\\x80\\xae\\xe2\\x81\\xa6\\xe2\\x81\\xa9\\xe2\\x80\\x8f\\xd8\\x9c", true},
    // The cut at the line's room, never inside a character or an escape.
    {filling(2, "é"), filling(2, "é"), true},
    {filling(1, "é"), filling(1, "..."), false},
    {filling(3, "\x1b"), filling(3, "..."), false},
    {filling(0, "\xe2\x82\xac"), filling(0, "..."), false},
};

} // namespace

int main()
{
    int mismatches = 0;
    for (const auto &row : rows) {
        static char line[line_size];
        size_t end = 0;
        const bool fits = append(line, &end, row.text.c_str());
        if (std::string(line, end) != row.escaped || fits != row.fits) {
            printf("FAILED: \"%.60s\": \"%.60s\", %s\n", row.escaped.c_str(), std::string(line, end).c_str(),
                   fits ? "fits" : "full");
            ++mismatches;
        }
    }
    printf("%zu escapes checked, %d wrong\n", sizeof rows / sizeof *rows, mismatches);
    return mismatches;
}
