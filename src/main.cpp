// display-resolution: print the current resolution of the first display.
//
// Brings up SDL 2's video subsystem, asks it for the current mode of display
// 0 and writes "Current Display Resolution: WIDTHxHEIGHT" on standard output,
// with status 0; where SDL cannot be brought up or cannot say, one line on
// standard error that names the step that failed, with SDL's text and, as
// the cause, what the libraries under it said meanwhile, with status 1.
//
// Whoever ends the run, short of SIGKILL, it ends with that one line and
// status 0 or 1: every line goes out once, through end_run, from main, from
// a signal handler (a crash, a bound, any signal that would end the process
// silently, a display connection gone) or from an exit handler (Xlib's own
// exit). A wait ends once what it waits for has said nothing for
// silence_seconds, and a run after cap_seconds of running, on a clock that
// only the run's own timer moves; time spent stopped counts for neither.
// TERM, INT, HUP and QUIT keep their default action (as the first process of
// a PID namespace, where the kernel would drop them, they end the run as
// they would any other), and so does SIGPIPE from standard output. Settings
// made before SDL starts keep it from changing the caller's process, the
// desktop session or the console.
//
// This file holds main, as the steps of a run, the settings made before SDL
// starts and the console's card; the machinery sits beside it, each file
// listed in display-resolution.h.
//
// Caveats: what the dynamic loader prints before main reaches standard error
// unchanged; a report line that a full disk cuts short stays where it was
// written, followed by the error line; on a console with several cards SDL
// may be brought up twice, the second time on the card display 0 is on.
#include "display-resolution.h"

#include <SDL.h>

#include <fcntl.h>
#include <glob.h>
#include <linux/kd.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// SDL's text where no display system could be reached at all.
constexpr char no_device[] = "No available video device";
// What the run had to try, as our caller set it, for a failure to name.
const char *callers_display = nullptr;
const char *callers_wayland_display = nullptr;

// -- Before SDL starts, in the order main takes them.

// What our caller hands down on descriptors stays its own.
void keep_callers_descriptors()
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
}

// Points the input methods at a Compose file of one line feed, and returns
// its descriptor, to be closed once SDL is up, or -1, with errno set. An
// empty file would not do: some versions of xkbcommon complain of it on
// standard error, others pass it over and parse the whole table. The file
// is made only beside a collection in memory: where that cannot be had,
// neither can this, and beside a pipe it would take a third descriptor.
int point_compose_file()
{
    setenv("XCOMPOSEFILE", "/dev/null", 1);
    errno = 0;
    const int compose = collected_in_memory() ? memfd_create("compose", MFD_CLOEXEC) : -1;
    if (compose >= 0 && write(compose, "\n", 1) == 1) {
        char compose_path[sizeof "/proc/self/fd/-2147483648"];
        snprintf(compose_path, sizeof compose_path, "/proc/self/fd/%d", compose);
        setenv("XCOMPOSEFILE", compose_path, 1);
    }
    return compose;
}

// Settings for the desktop session. We open no window and read no input,
// so none of what SDL sets up for them on its way up is wanted, and a run
// must leave the session as it found it. Returns the Compose file's
// descriptor, to be closed once SDL is up, or -1 with errno set.
int spare_the_desktop_session()
{
    callers_display = getenv("DISPLAY");
    callers_wayland_display = getenv("WAYLAND_DISPLAY");
    // Suspending the screensaver would reset the X server's idle time.
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1", SDL_HINT_OVERRIDE);
    // No bus: no inhibition, no input-method context, and no bus daemon
    // autolaunched to outlive us. An unknown transport fails at once, as does a
    // bus the caller disabled: neither is a bus to wait for. Only
    // SDL 3 (behind sdl2-compat) keeps the session bus, to ask GNOME which
    // monitor is primary: that one is its display 0. It starts no input
    // method unasked, and with the screensaver allowed it sends no inhibition.
    SDL_version linked;
    SDL_GetVersion(&linked);
    const char *session_bus = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (linked.patch < first_sdl3_patch || session_bus == nullptr || session_bus[0] == '\0' ||
        strncmp(session_bus, "autolaunch:", strlen("autolaunch:")) == 0 ||
        strncmp(session_bus, "disabled:", strlen("disabled:")) == 0) {
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    } else {
        name_the_bus_in_silence();
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "disabled:", 1);
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
    // The input method opened on X11 would have libX11 load the user's
    // locale and parse its whole Compose table, and xkbcommon would on
    // Wayland.
    setenv("LC_ALL", "C", 1);
    // Without X's keyboard extension, which libX11 leaves alone where this
    // is set, SDL maps the keyboard from the core protocol: seven round trips
    // fewer, and we read no keys.
    setenv("XKB_DISABLE", "1", 1);
    return point_compose_file();
}

// Settings for the Linux console. While it is up SDL takes over the
// terminal we are run from: it switches the keyboard to Unicode and off, so
// that keys typed meanwhile are lost, and the switching between terminals to
// itself; a run ended by a signal would leave them so. It finds that terminal
// as our controlling one: we let go of it, unless we lead its session, whose
// letting go would hang the session up. Then at least the keyboard stays on.
void spare_the_console()
{
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
}

// -- Bringing SDL up: on a console, on the card display 0 is on.

// Whether SDL fell back to its virtual display, not asked for by name.
bool fell_back()
{
    const char *driver = SDL_GetCurrentVideoDriver();
    const char *requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    return driver != nullptr && strcmp(driver, "offscreen") == 0 && (requested == nullptr || *requested == '\0');
}

// The card SDL_KMSDRM_DEVICE_INDEX names, read as SDL reads it (a whole
// number that is not negative once made an int), or -1 where it names none.
int named_card()
{
    const char *named = getenv("SDL_KMSDRM_DEVICE_INDEX");
    if (named == nullptr || *named == '\0') {
        return -1;
    }
    char *number_end = nullptr;
    const int card = static_cast<int>(strtol(named, &number_end, 10));
    return *number_end == '\0' && card >= 0 ? card : -1;
}

// Whether the outputs sysfs lists for `pattern` (/sys/class/drm/card0-*)
// include a connected one: each lists its status (card0-Virtual-1/status),
// and reading it takes no DRM master, as opening the card would where
// nobody holds it. With `cards`, each card's number with one sets its bit
// there, card0's the lowest; cards past the 64th are not looked at.
bool connected_outputs(const char *pattern, std::uint64_t *cards)
{
    bool connected = false;
    glob_t outputs{};
    glob(pattern, 0, nullptr, &outputs);
    for (size_t i = 0; i < outputs.gl_pathc; ++i) {
        const int file = open(outputs.gl_pathv[i], O_RDONLY | O_CLOEXEC);
        char status[sizeof "connected\n"] = "";
        if (file >= 0 && read(file, status, sizeof status - 1) > 0 && strcmp(status, "connected\n") == 0) {
            connected = true;
            char *number_end = nullptr;
            const long card = strtol(outputs.gl_pathv[i] + strlen("/sys/class/drm/card"), &number_end, 10);
            if (cards != nullptr && *number_end == '-' && card >= 0 && card < 64) {
                *cards |= std::uint64_t{1} << card;
            }
        }
        if (file >= 0) {
            close(file);
        }
    }
    globfree(&outputs);
    return connected;
}

// The DRM cards with a connected output, a bit each, card0's the lowest.
std::uint64_t connected_cards()
{
    std::uint64_t cards = 0;
    connected_outputs("/sys/class/drm/card*-*/status", &cards);
    return cards;
}

// On a Linux console SDL reaches the screen through a DRM card that it
// finds in /dev/dri, which lists the newest first: SDL 2.32 and 3 take the
// first card listed with a connected output, SDL 2.26 the last one listed
// with display resources. Display 0 is the first connected output of the
// lowest-numbered card that has one (and that we may open). Returns that
// card's number where SDL may have taken another, or found none though
// there is one, and -1 where it has the right one, is not on the console,
// or was told by the user which card to take. Off the console nothing is
// read.
int card_to_take()
{
    const char *driver = SDL_GetCurrentVideoDriver();
    const bool console = driver != nullptr && strcmp(driver, "KMSDRM") == 0;
    if (named_card() >= 0 || (!console && !fell_back())) {
        return -1;
    }
    const std::uint64_t cards = connected_cards();
    // With one card connected, SDL on the console has taken it.
    const bool just_one = (cards & (cards - 1)) == 0;
    if (console && just_one) {
        return -1;
    }
    for (int card = 0; card < 64 && cards >> card != 0; ++card) {
        char device[sizeof "/dev/dri/card-2147483648"];
        snprintf(device, sizeof device, "/dev/dri/card%d", card);
        if ((cards >> card & 1) != 0 && access(device, R_OK | W_OK) == 0) {
            return card;
        }
    }
    return -1;
}

// Brings up SDL's video, on a console on the card display 0 is to be on;
// returns SDL_Init's result.
int bring_up_video()
{
    int initialized = SDL_Init(SDL_INIT_VIDEO);
    const int card = initialized == 0 ? card_to_take() : -1;
    if (card >= 0) {
        // Brought up again with the hints set before, which SDL_Quit would
        // clear; overriding, as a value SDL ignores still hides a hint.
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        char index[sizeof "-2147483648"];
        snprintf(index, sizeof index, "%d", card);
        SDL_SetHintWithPriority(SDL_HINT_KMSDRM_DEVICE_INDEX, index, SDL_HINT_OVERRIDE);
        initialized = SDL_InitSubSystem(SDL_INIT_VIDEO);
    }
    return initialized;
}

// Why SDL failed on a console where the user named a card with no connected
// output: its own text is then one left over from its shutdown. Null where
// no such card was named, or the console was not what failed: another video
// driver was asked for, or a display server answered.
const char *named_card_unconnected()
{
    const int card = named_card();
    const char *requested = getenv("SDL_VIDEODRIVER");
    const bool console_failed = requested == nullptr || *requested == '\0' ? display_answered == 0
                                                                            : strcasecmp(requested, "kmsdrm") == 0;
    char pattern[sizeof "/sys/class/drm/card-2147483648-*/status"];
    snprintf(pattern, sizeof pattern, "/sys/class/drm/card%d-*/status", card);
    if (card < 0 || !console_failed || connected_outputs(pattern, nullptr)) {
        return nullptr;
    }
    static char reason[sizeof "SDL_KMSDRM_DEVICE_INDEX names card, which has no connected output" + 64];
    snprintf(reason, sizeof reason, "SDL_KMSDRM_DEVICE_INDEX names card%s, which has no connected output",
             getenv("SDL_KMSDRM_DEVICE_INDEX"));
    return reason;
}

// The cause of a failure `reason` where it is that no display system could be
// reached and the libraries said nothing: what the run had to try, the
// variables as our caller set them and the console's cards. Null for any
// other failure.
const char *what_was_tried(const char *reason)
{
    if (strcmp(reason, no_device) != 0) {
        return nullptr;
    }
    const std::uint64_t cards = connected_cards();
    int card = 0;
    while (card < 63 && (cards >> card & 1) == 0) {
        ++card;
    }
    char console[sizeof "/dev/dri/card-2147483648: " + 64] = "no DRM card with a connected output";
    if (cards != 0) {
        const int length = snprintf(console, sizeof console, "/dev/dri/card%d", card);
        if (access(console, R_OK | W_OK) != 0) {
            snprintf(console + length, sizeof console - static_cast<size_t>(length), ": %s", strerrordesc_np(errno));
        }
    }
    const bool display_set = callers_display != nullptr && *callers_display != '\0';
    const bool wayland_set = callers_wayland_display != nullptr && *callers_wayland_display != '\0';
    static char tried[line_size];
    snprintf(tried, sizeof tried, "%s%s, %s%s, %s", display_set ? "DISPLAY=" : "DISPLAY unset",
             display_set ? callers_display : "", wayland_set ? "WAYLAND_DISPLAY=" : "WAYLAND_DISPLAY unset",
             wayland_set ? callers_wayland_display : "", console);
    return tried;
}

} // namespace

int main()
{
    keep_callers_descriptors();
    // The libraries, SDL among them, say what they think on standard error,
    // in lines beside ours: collect it from before the first SDL call, drop
    // it when all is well, and give it as the cause when SDL fails.
    if (!start_collecting()) {
        return end_run(1, strerrordesc_np(errno));
    }
    guard_run();
    const int compose = spare_the_desktop_session();
    if (compose < 0 && (errno == EMFILE || errno == ENFILE)) {
        return end_run(1, strerrordesc_np(errno));
    }
    spare_the_console();

    const int initialized = bring_up_video();
    if (compose >= 0) {
        close(compose);
    }
    if (initialized != 0) {
        const char *named = named_card_unconnected();
        const char *reason = named != nullptr ? named : SDL_GetError();
        return end_run(1, reason, what_was_tried(reason));
    }
    // With no display system to reach, the library falls back to a virtual
    // display whose size means nothing; only report one that was asked for.
    if (fell_back()) {
        const int status = end_run(1, no_device, what_was_tried(no_device));
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
