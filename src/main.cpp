// display-resolution: print the current resolution of the first display.
#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

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
    const ssize_t written = write(STDERR_FILENO, line, strlen(line));
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
    // autolaunched to outlive us. An unknown transport fails at once.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "disabled:", 1);
    // The input method opened on X11 would have libX11 load the user's
    // locale and parse its whole Compose table.
    setenv("LC_ALL", "C", 1);
    setenv("XCOMPOSEFILE", "/dev/null", 1);

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
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        settled_status = 1;
        fprintf(stderr, "SDL initialization failed: %s\n", SDL_GetError());
        return 1;
    }

    // With no display system to reach, the library falls back to a virtual
    // display whose size means nothing; only report one that was asked for.
    const char *driver = SDL_GetCurrentVideoDriver();
    const char *requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (driver != nullptr && strcmp(driver, "offscreen") == 0 &&
        (requested == nullptr || *requested == '\0')) {
        settled_status = 1;
        fputs("SDL initialization failed: No available video device\n", stderr);
        SDL_Quit();
        return 1;
    }

    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(0, &mode) != 0) {
        settled_status = 1;
        fprintf(stderr, "SDL_GetCurrentDisplayMode failed: %s\n", SDL_GetError());
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
