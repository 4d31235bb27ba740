// display-resolution: print the current resolution of the first display.
#include <SDL.h>

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/common_interface_defs.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A live X server 200 ms away needs about 17 seconds to answer all that SDL
// asks on its way up; a dead one must not hold our caller much longer.
constexpr unsigned deadline_seconds = 25;

// sdl2-compat, SDL 2's interface over SDL 3, numbers its versions from 2.x.50.
constexpr Uint8 first_sdl3_patch = 50;

// What the run is doing, named in the line that reports its failure.
enum step : std::uint8_t { bringing_up, querying, writing };
const char *const step_names[] = {"SDL initialization failed", "SDL_GetCurrentDisplayMode failed",
                                  "Writing to standard output failed"};
volatile std::sig_atomic_t step_under_way = bringing_up;

// The exit status of a run whose one line is out (or on its way), and -1
// before that: from then on nothing may add a line or change the status.
volatile std::sig_atomic_t settled_status = -1;

// Set when the deadline passes while the report line waits to be written.
volatile std::sig_atomic_t timed_out = 0;

// Where the run's own error line goes, and the file that collects what the
// libraries write on standard error meanwhile (-1: none).
volatile std::sig_atomic_t error_output = STDERR_FILENO;
volatile std::sig_atomic_t collected = -1;

// A line of at most PIPE_BUF bytes goes into a pipe in one piece.
constexpr size_t line_size = PIPE_BUF;
constexpr char cut_mark[] = "...";
// Room is kept for the cut mark, a closing parenthesis and the line feed.
constexpr size_t line_room = line_size - (sizeof cut_mark - 1) - 2;

// The size of the printable UTF-8 character `text` starts with, or 0 for a
// control character, a backslash or a byte that starts no character.
size_t printable_size(const char *text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < ' ' || lead == '\\' || lead == 0x7f) {
        return 0;
    }
    // U+0080 to U+009F, C2 80 to C2 9F, are the C1 control characters.
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
    if (lead == 0xc2 && static_cast<unsigned char>(text[1]) < 0xa0) {
        size = 0;
    }
    for (size_t i = 1; i < size; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) {
            return 0;
        }
    }
    return size;
}

// Appends `text` to `line` at `*end`, with every byte that is no printable
// character written as an escape (\n, \\, \x1b), so that the line stays one
// line and sets nothing off on a terminal. Where the text does not fit, it is
// cut at a character boundary, with a mark, and the result is false: the
// line is full. No text appends nothing.
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

// Appends what the libraries said on standard error, its lines joined by
// "; ": in parentheses after the reason given, or as the reason where none
// is. The buffer is static for the reason end_run's is.
void append_said(char *line, size_t *end, bool reason_given)
{
    static char said[line_size + 1];
    const ssize_t length = collected < 0 ? 0 : pread(collected, said, line_size, 0);
    bool room = true;
    bool folded = false;
    for (ssize_t start = 0, stop = 0; room && start < length; start = stop + 1) {
        stop = start;
        while (stop < length && said[stop] != '\n') {
            ++stop;
        }
        // Xlib ends its lines in CR LF, and indents some.
        ssize_t last = stop;
        while (last > start && (said[last - 1] == '\r' || said[last - 1] == ' ')) {
            --last;
        }
        said[last] = '\0';
        start += static_cast<ssize_t>(strspn(said + start, " \t"));
        if (start < last) {
            const char *separator = "; ";
            if (!folded) {
                separator = reason_given ? " (" : "";
            }
            room = append(line, end, separator) && append(line, end, said + start);
            folded = true;
        }
    }
    if (folded && reason_given) {
        line[(*end)++] = ')';
    } else if (!folded && !reason_given) {
        append(line, end, "A library ended the process");
    }
}

// Writes all of the line, going on after a signal unless the deadline has
// passed; true once it is out.
bool write_line(int descriptor, const char *line, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t written = write(descriptor, line + done, length - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
        } else if (written == 0 || errno != EINTR || timed_out != 0) {
            return false;
        }
    }
    return true;
}

// Every line of the run goes out through here, once: the report (status 0,
// `text` the size) on standard output, or an error line (status 1) naming
// the step under way, with `text` its reason and what the libraries said as
// the cause (or, with no text, as the reason). Returns the run's exit status,
// settled by the first call. Async-signal-safe. The buffers are static: a
// signal handler that breaks in here never returns into it.
int end_run(int status, const char *text)
{
    if (settled_status >= 0) {
        return settled_status;
    }
    static char line[line_size];
    size_t end = 0;
    if (status == 0) {
        append(line, &end, "Current Display Resolution: ");
        append(line, &end, text);
        line[end++] = '\n';
        step_under_way = writing;
        if (write_line(STDOUT_FILENO, line, end)) {
            settled_status = 0;
            return 0;
        }
        const char *reason = strerrordesc_np(errno);
        text = reason != nullptr ? reason : "Unknown error";
        if (timed_out != 0) {
            // Keep the number in step with deadline_seconds.
            text = "Timed out after 25 seconds";
        }
        end = 0;
    }
    // What the libraries said is the cause of a failure of theirs, and has
    // nothing to do with our standard output.
    const std::sig_atomic_t step = step_under_way;
    if (append(line, &end, step_names[step]) && append(line, &end, ": ") && append(line, &end, text) &&
        step != writing) {
        append_said(line, &end, text != nullptr);
    }
    line[end++] = '\n';
    settled_status = 1;
    write_line(error_output, line, end);
    return 1;
}

// Ends a run that a signal cut short: the deadline, a crash inside the
// libraries, a display connection gone.
void end_signalled_run(int signal_number)
{
    if (settled_status < 0 && step_under_way == writing) {
        // A reader of standard output that has gone away ends us as it ends
        // any command in a pipeline.
        if (signal_number == SIGPIPE) {
            signal(SIGPIPE, SIG_DFL);
            raise(SIGPIPE);
        }
        // The write gives up and says so itself; until it has, the alarm
        // keeps breaking in.
        if (signal_number == SIGALRM) {
            timed_out = 1;
            alarm(1);
            return;
        }
    }
    // A standard error nobody reads must not hold us either: a second alarm
    // breaks into this one, and finds the run settled.
    alarm(1);
    const char *reason = "Crashed with a signal";
    switch (signal_number) {
    case SIGALRM:
        // Keep the number in step with deadline_seconds.
        reason = "The display server did not answer within 25 seconds";
        break;
    case SIGPIPE:
        reason = "The display server closed the connection";
        break;
    case SIGSEGV:
        reason = "Crashed with SIGSEGV (segmentation fault)";
        break;
    case SIGBUS:
        reason = "Crashed with SIGBUS (bus error)";
        break;
    case SIGILL:
        reason = "Crashed with SIGILL (illegal instruction)";
        break;
    case SIGFPE:
        reason = "Crashed with SIGFPE (arithmetic exception)";
        break;
    case SIGABRT:
        reason = "Crashed with SIGABRT (aborted)";
        break;
    default:
        break;
    }
    _exit(end_run(1, reason));
}

// Xlib ends the process itself when the X server fails it: the run still
// ends with its one line, and once that is out, with its own status.
void end_exited_run(int status, void * /*unused*/)
{
    const int settled = end_run(1, nullptr);
    if (settled != status) {
        _exit(settled);
    }
}

// A display server that has stopped answering would hold the run, and its
// caller, for ever; a crash in the libraries, or a library's own exit, would
// end it with no line.
void guard_run()
{
    // A crash on a stack that has run out must still find room for its line.
    static char signal_stack[1 << 16];
    stack_t stack{};
    stack.ss_sp = signal_stack;
    stack.ss_size = sizeof signal_stack;
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = end_signalled_run;
    action.sa_flags = SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    // Where our caller ignores SIGPIPE, a write to a closed pipe or
    // connection fails instead, and is reported as such.
    struct sigaction pipe_action {};
    sigaction(SIGPIPE, nullptr, &pipe_action);
    sigset_t guarded;
    sigemptyset(&guarded);
    const int signals[] = {SIGALRM, SIGPIPE, SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
    for (const int signal_number : signals) {
        if (signal_number != SIGPIPE || pipe_action.sa_handler != SIG_IGN) {
            // Ignored, a signal left pending by whoever started us is dropped.
            signal(signal_number, SIG_IGN);
            sigaction(signal_number, &action, nullptr);
            sigaddset(&guarded, signal_number);
        }
    }
    // Blocked by whoever started us, the alarm would never come.
    sigprocmask(SIG_UNBLOCK, &guarded, nullptr);
    on_exit(end_exited_run, nullptr);
    alarm(deadline_seconds);
}

// Points standard error at an unnamed file, in memory where the system
// allows, and keeps the real one for the run's own line.
void start_collecting()
{
    int file = memfd_create("standard error", MFD_CLOEXEC);
    if (file < 0) {
        file = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
    if (file < 0) {
        return;
    }
    const int real_error = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (real_error < 0 || dup2(file, STDERR_FILENO) < 0) {
        close(file);
        if (real_error >= 0) {
            close(real_error);
        }
        return;
    }
    error_output = real_error;
    collected = file;
#ifdef __SANITIZE_ADDRESS__
    // A sanitizer's report is no library's remark: it goes where it would have.
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(real_error)));
#endif
}

} // namespace

int main()
{
    // A Wayland connection handed down by number must be one our caller
    // handed down: a number naming no open descriptor would otherwise name
    // one of ours by the time the library looks. -1 fails the same way.
    const char *handed_down = getenv("WAYLAND_SOCKET");
    if (handed_down != nullptr) {
        const long number = strtol(handed_down, nullptr, 10);
        if (number >= 0 && number <= INT_MAX && fcntl(static_cast<int>(number), F_GETFD) < 0) {
            setenv("WAYLAND_SOCKET", "-1", 1);
        }
    }
    // Standard descriptors our caller left closed would be taken by the
    // library's display connection, and our line would be written into it.
    int descriptor = 0;
    do {
        descriptor = open("/dev/null", O_RDONLY);
    } while (descriptor >= 0 && descriptor <= STDERR_FILENO);
    if (descriptor >= 0) {
        close(descriptor);
    }

    guard_run();
    // The libraries, SDL among them, say what they think on standard error,
    // in lines beside ours: collect it from before the first SDL call, drop
    // it when all is well, and give it as the cause when SDL fails.
    start_collecting();

    // We open no window and read no input, so none of what the library sets
    // up for them on its way up is wanted, and a run must leave the desktop
    // session as it found it.
    // Suspending the screensaver would reset the X server's idle time.
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1", SDL_HINT_OVERRIDE);
    // SDL's own handlers would only note TERM and INT, and a hung run could
    // then be stopped by nothing short of SIGKILL.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    // No bus: no inhibition, no input-method context, and no bus daemon
    // autolaunched to outlive us. An unknown transport fails at once. Only
    // SDL 3 (behind sdl2-compat) keeps the session bus, to ask GNOME which
    // monitor is primary: that one is its display 0. It starts no input
    // method unasked, and with the screensaver allowed it sends no inhibition.
    SDL_version linked;
    SDL_GetVersion(&linked);
    const char *session_bus = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (linked.patch < first_sdl3_patch || session_bus == nullptr || session_bus[0] == '\0' ||
        strncmp(session_bus, "autolaunch:", strlen("autolaunch:")) == 0) {
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "disabled:", 1);
    // The input method opened on X11 would have libX11 load the user's
    // locale and parse its whole Compose table.
    setenv("LC_ALL", "C", 1);
    // The same goes for xkbcommon on Wayland. An empty file would not do:
    // some versions complain of it on standard error, others pass it over
    // and parse the whole table. One line feed gives neither.
    setenv("XCOMPOSEFILE", "/dev/null", 1);
    const int compose = memfd_create("compose", MFD_CLOEXEC);
    if (compose >= 0 && write(compose, "\n", 1) == 1) {
        char compose_path[sizeof "/proc/self/fd/-2147483648"];
        snprintf(compose_path, sizeof compose_path, "/proc/self/fd/%d", compose);
        setenv("XCOMPOSEFILE", compose_path, 1);
    }
    // On compositors that draw no window decorations SDL would load libdecor
    // for the window we never open, and it complains of missing plugins.
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0", SDL_HINT_OVERRIDE);
    // On a Linux console SDL takes over the terminal we are run from while
    // it is up: it switches the keyboard to Unicode and off, so that keys
    // typed meanwhile are lost, and the switching between terminals to
    // itself; a run ended by a signal would leave them so. It finds that
    // terminal as our controlling one: we let go of it, unless we lead its
    // session, whose letting go would hang the session up. Then at least
    // the keyboard stays on.
    const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    int keyboard_mode = 0;
    if (terminal >= 0 && ioctl(terminal, KDGKBMODE, &keyboard_mode) == 0 && getsid(0) != getpid()) {
        ioctl(terminal, TIOCNOTTY);
    }
    if (terminal >= 0) {
        close(terminal);
    }
    setenv("SDL_INPUT_LINUX_KEEP_KBD", "1", 1);
    // Beside a compositor or another program that holds the display (its
    // DRM master), SDL would report no display at all; the mode it shows
    // can be read all the same.
    SDL_SetHintWithPriority(SDL_HINT_KMSDRM_REQUIRE_DRM_MASTER, "0", SDL_HINT_OVERRIDE);
    // Without a runtime directory libwayland can find no compositor by name,
    // and says so on standard error in a line of its own. A path it cannot
    // connect to fails just the same, silently.
    const char *runtime_directory = getenv("XDG_RUNTIME_DIR");
    const char *wayland_display = getenv("WAYLAND_DISPLAY");
    if ((runtime_directory == nullptr || runtime_directory[0] != '/') &&
        (wayland_display == nullptr || wayland_display[0] != '/')) {
        setenv("WAYLAND_DISPLAY", "/dev/null", 1);
    }

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        return end_run(1, SDL_GetError());
    }

    // With no display system to reach, the library falls back to a virtual
    // display whose size means nothing; only report one that was asked for.
    const char *driver = SDL_GetCurrentVideoDriver();
    const char *requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (driver != nullptr && strcmp(driver, "offscreen") == 0 &&
        (requested == nullptr || *requested == '\0')) {
        const int status = end_run(1, "No available video device");
        SDL_Quit();
        return status;
    }

    step_under_way = querying;
    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(0, &mode) != 0) {
        const int status = end_run(1, SDL_GetError());
        SDL_Quit();
        return status;
    }

    // Once the line is out the result stands: a shutdown that hangs, crashes
    // or loses the display cannot undo it.
    char size[sizeof "-2147483648x-2147483648"];
    snprintf(size, sizeof size, "%dx%d", mode.w, mode.h);
    const int status = end_run(0, size);
    SDL_Quit();
    return status;
}
