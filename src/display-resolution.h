// display-resolution: what the program's files share.
//
// main.cpp     the steps of a run, the settings made before SDL starts, and
//              the console's card
// escape.cpp   texts made safe for the one line: the UTF-8 check, the
//              escapes, the cut
// line.cpp     the one line: the collection of what the libraries say, the
//              write, end_run
// guard.cpp    the run's clock and bounds, the signal handlers, and the
//              calls the libraries wait in, which the executable takes
// x11.cpp      what SDL sets up on X11 for windows and keys, answered without
//              the server
#ifndef DISPLAY_RESOLUTION_H
#define DISPLAY_RESOLUTION_H

#include <poll.h>

#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdint>

// sdl2-compat, SDL 2's interface over SDL 3, numbers its versions from 2.x.50.
constexpr unsigned char first_sdl3_patch = 50;

// A line of at most PIPE_BUF bytes goes into a pipe in one piece.
constexpr size_t line_size = PIPE_BUF;

// escape.cpp. Appends `text` to `line` at `*end`, escaped and, where it does
// not fit, cut; false once the line is full. Async-signal-safe.
bool append(char *line, size_t *end, const char *text);

// line.cpp. What the run is doing, named in the line that reports its
// failure, and the exit status once that line (or the report) is out or on
// its way, -1 before.
enum step : std::uint8_t { bringing_up, querying, writing };
extern volatile std::sig_atomic_t step_under_way;
extern volatile std::sig_atomic_t settled_status;
bool start_collecting();
bool collected_in_memory();
int end_run(int status, const char *size_or_reason, const char *cause_if_silent = nullptr);

// guard.cpp. Set once a display server has answered while SDL came up.
extern volatile std::sig_atomic_t display_answered;
// The C library's ppoll, for waits of the run's own: the name ppoll is the
// libraries' door, which the executable takes. Async-signal-safe.
extern decltype(&ppoll) const c_library_ppoll;
void guard_run();
void heard_from();
void name_the_bus_in_silence();

#endif
