// display-resolution: print the current resolution of the first display.
#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "SDL initialization failed: %s\n", SDL_GetError());
        return 1;
    }

    // With no display system to reach, the library falls back to a virtual
    // display whose size means nothing; only report one that was asked for.
    const char *driver = SDL_GetCurrentVideoDriver();
    const char *requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (driver != nullptr && strcmp(driver, "offscreen") == 0 &&
        (requested == nullptr || *requested == '\0')) {
        fputs("SDL initialization failed: No available video device\n", stderr);
        SDL_Quit();
        return 1;
    }

    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(0, &mode) != 0) {
        fprintf(stderr, "SDL_GetCurrentDisplayMode failed: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }

    printf("Current Display Resolution: %dx%d\n", mode.w, mode.h);
    // A line that never arrived is a failure, and flushing before the
    // library's shutdown means nothing there can lose it either.
    if (fflush(stdout) != 0 || ferror(stdout) != 0) {
        fprintf(stderr, "Writing to standard output failed: %s\n", strerror(errno));
        SDL_Quit();
        return 1;
    }

    SDL_Quit();
    return 0;
}
