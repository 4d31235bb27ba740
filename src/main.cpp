// display-resolution: print the current resolution of the first display.
#include <SDL.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/common_interface_defs.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A live X server 200 ms away needs about 17 seconds to answer all that SDL
// asks on its way up; a dead one must not hold our caller much longer.
constexpr unsigned deadline_seconds = 25;

// The exit status of a run whose one line is out (or on its way), and -1
// before that: from then on nothing may add a line or change the status.
volatile std::sig_atomic_t settled_status = -1;

// sdl2-compat, SDL 2's interface over SDL 3, numbers its versions from 2.x.50.
constexpr Uint8 first_sdl3_patch = 50;

// How much of what the libraries said is kept for an error line.
constexpr size_t said_size = 512;

// Where the run's own lines go, while the libraries' standard error is being
// collected.
volatile std::sig_atomic_t error_output = STDERR_FILENO;

// Ends a run that the deadline, or a crash inside the libraries, cut short:
// with one line and status 1, or silently with the status already settled.
// Only async-signal-safe calls from here.
void end_run(int signal_number)
{
    if (settled_status >= 0) {
        _exit(settled_status);
    }
    settled_status = 1;
    const char *line = "SDL initialization failed: Crashed with a signal\n";
    switch (signal_number) {
    case SIGALRM:
        // Keep the number in step with deadline_seconds.
        line = "SDL initialization failed: The display server did not answer within 25 seconds\n";
        break;
    case SIGSEGV:
        line = "SDL initialization failed: Crashed with SIGSEGV (segmentation fault)\n";
        break;
    case SIGBUS:
        line = "SDL initialization failed: Crashed with SIGBUS (bus error)\n";
        break;
    case SIGILL:
        line = "SDL initialization failed: Crashed with SIGILL (illegal instruction)\n";
        break;
    case SIGFPE:
        line = "SDL initialization failed: Crashed with SIGFPE (arithmetic exception)\n";
        break;
    case SIGABRT:
        line = "SDL initialization failed: Crashed with SIGABRT (aborted)\n";
        break;
    default:
        break;
    }
    // A standard error nobody reads must not hold us either: a second alarm
    // breaks into this one, and finds the run settled.
    alarm(1);
    const ssize_t written = write(error_output, line, strlen(line));
    static_cast<void>(written);
    _exit(1);
}

// A display server that has stopped answering would hold the run, and its
// caller, for ever; and a crash in the libraries would end it with no line.
void guard_run()
{
    struct sigaction action {};
    action.sa_handler = end_run;
    action.sa_flags = SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigset_t guarded;
    sigemptyset(&guarded);
    const int signals[] = {SIGALRM, SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
    for (const int signal_number : signals) {
        sigaction(signal_number, &action, nullptr);
        sigaddset(&guarded, signal_number);
    }
    // Blocked by whoever started us, the alarm would never come.
    sigprocmask(SIG_UNBLOCK, &guarded, nullptr);
    alarm(deadline_seconds);
}

// Points standard error at a file in memory, and returns that file (or -1,
// and nothing is collected).
int start_collecting()
{
    const int collected = memfd_create("standard error", MFD_CLOEXEC);
    if (collected < 0) {
        return -1;
    }
    const int real_error = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (real_error < 0) {
        close(collected);
        return -1;
    }
    if (dup2(collected, STDERR_FILENO) < 0) {
        close(real_error);
        close(collected);
        return -1;
    }
    error_output = real_error;
#ifdef __SANITIZE_ADDRESS__
    // A sanitizer's report is no library's remark: it goes where it would have.
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(real_error)));
#endif
    return collected;
}

// Points standard error back where it was, and leaves in `said` what was
// collected, as " (LINE; LINE)", or nothing.
void stop_collecting(int collected, char *said, size_t size)
{
    said[0] = '\0';
    if (collected < 0) {
        return;
    }
    dup2(error_output, STDERR_FILENO);
    char text[said_size];
    const ssize_t length = pread(collected, text, sizeof text, 0);
    close(collected);
    // Room is kept for " (", ")" and the terminating null.
    const size_t last = size - 4;
    size_t end = 0;
    bool line_ended = false;
    for (ssize_t i = 0; i < length && end + 3 <= last; ++i) {
        if (text[i] == '\n') {
            line_ended = end > 0;
            continue;
        }
        if (line_ended) {
            said[end++] = ';';
            said[end++] = ' ';
            line_ended = false;
        }
        said[end++] = text[i];
    }
    if (end > 0) {
        memmove(said + 2, said, end);
        said[0] = ' ';
        said[1] = '(';
        said[end + 2] = ')';
        said[end + 3] = '\0';
    }
}

} // namespace

int main()
{
    // Standard descriptors our caller left closed would be taken by the
    // library's display connection, and our line would be written into it.
    int descriptor = 0;
    do {
        descriptor = open("/dev/null", O_RDONLY);
    } while (descriptor >= 0 && descriptor <= STDERR_FILENO);
    if (descriptor >= 0) {
        close(descriptor);
    }

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
    const int compose = memfd_create("compose", 0);
    if (compose >= 0 && write(compose, "\n", 1) == 1) {
        char compose_path[sizeof "/proc/self/fd/-2147483648"];
        snprintf(compose_path, sizeof compose_path, "/proc/self/fd/%d", compose);
        setenv("XCOMPOSEFILE", compose_path, 1);
    }
    // On compositors that draw no window decorations SDL would load libdecor
    // for the window we never open, and it complains of missing plugins.
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0", SDL_HINT_OVERRIDE);

    // Without a runtime directory libwayland can find no compositor by name,
    // and says so on standard error in a line of its own. A path it cannot
    // connect to fails just the same, silently.
    const char *runtime_directory = getenv("XDG_RUNTIME_DIR");
    const char *wayland_display = getenv("WAYLAND_DISPLAY");
    if ((runtime_directory == nullptr || runtime_directory[0] != '/') &&
        (wayland_display == nullptr || wayland_display[0] != '/')) {
        setenv("WAYLAND_DISPLAY", "/dev/null", 1);
    }

    guard_run();
    // The libraries SDL brings up say what they think on standard error, in
    // lines beside ours: collect it while SDL comes up, drop it when all is
    // well, and give it as the cause when SDL fails.
    char said[said_size];
    const int collected = start_collecting();
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        settled_status = 1;
        stop_collecting(collected, said, sizeof said);
        fprintf(stderr, "SDL initialization failed: %s%s\n", SDL_GetError(), said);
        return 1;
    }

    // With no display system to reach, the library falls back to a virtual
    // display whose size means nothing; only report one that was asked for.
    const char *driver = SDL_GetCurrentVideoDriver();
    const char *requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (driver != nullptr && strcmp(driver, "offscreen") == 0 &&
        (requested == nullptr || *requested == '\0')) {
        settled_status = 1;
        stop_collecting(collected, said, sizeof said);
        fprintf(stderr, "SDL initialization failed: No available video device%s\n", said);
        SDL_Quit();
        return 1;
    }

    SDL_DisplayMode mode;
    const int query_result = SDL_GetCurrentDisplayMode(0, &mode);
    stop_collecting(collected, said, sizeof said);
    if (query_result != 0) {
        settled_status = 1;
        fprintf(stderr, "SDL_GetCurrentDisplayMode failed: %s%s\n", SDL_GetError(), said);
        SDL_Quit();
        return 1;
    }

    printf("Current Display Resolution: %dx%d\n", mode.w, mode.h);
    // A line that never arrived is a failure, and flushing before the
    // library's shutdown means nothing there can lose it either.
    if (fflush(stdout) != 0 || ferror(stdout) != 0) {
        settled_status = 1;
        fprintf(stderr, "Writing to standard output failed: %s\n", strerror(errno));
        SDL_Quit();
        return 1;
    }

    // The line is out: a shutdown that hangs or crashes cannot undo that.
    settled_status = 0;
    SDL_Quit();
    return 0;
}
