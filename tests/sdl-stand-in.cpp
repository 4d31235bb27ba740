// Loaded ahead of SDL 2 to force what the real library can't be made to do:
//   STAND_IN_INIT=N          SDL_Init returns N, with STAND_IN_ERROR as the error text
//   STAND_IN_MODE=N          SDL_GetCurrentDisplayMode returns N, likewise
//   STAND_IN_SIZE=WxH        the real mode query's width and height are replaced
//   STAND_IN_INIT_SIGNAL=N   SDL_Init raises signal N, as a crash inside it would
//   STAND_IN_QUIT_SIGNAL=N   SDL_Quit raises signal N, likewise
//   STAND_IN_TIMER_SPEED=N   the real-time interval timer runs N times as fast
//   STAND_IN_NO_MEMFD        memfd_create fails with ENOSYS, as in some sandboxes
// SDL_Quit writes "SDL_Quit" to standard output, so that the tests see how
// often it is called and, with both streams in one, what came before it.
#include <SDL.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

template <typename Function> static Function *real(const char *name)
{
    return reinterpret_cast<Function *>(dlsym(RTLD_NEXT, name));
}

// Whether `variable` forces a result, into `*result`, with its error text.
static bool forced(const char *variable, int *result)
{
    const char *value = getenv(variable);
    const char *error = getenv("STAND_IN_ERROR");
    if (value != nullptr) {
        *result = atoi(value);
        SDL_SetError("%s", error != nullptr ? error : "");
    }
    return value != nullptr;
}

static void raise_if_asked(const char *variable)
{
    if (getenv(variable) != nullptr) {
        raise(atoi(getenv(variable)));
    }
}

int SDL_Init(Uint32 flags)
{
    raise_if_asked("STAND_IN_INIT_SIGNAL");
    int result = 0;
    return forced("STAND_IN_INIT", &result) ? result : real<int(Uint32)>("SDL_Init")(flags);
}

int SDL_GetCurrentDisplayMode(int display, SDL_DisplayMode *mode)
{
    int result = 0;
    if (!forced("STAND_IN_MODE", &result)) {
        result = real<int(int, SDL_DisplayMode *)>("SDL_GetCurrentDisplayMode")(display, mode);
        sscanf(getenv("STAND_IN_SIZE") != nullptr ? getenv("STAND_IN_SIZE") : "", "%dx%d", &mode->w, &mode->h);
    }
    return result;
}

void SDL_Quit(void)
{
    (void)!write(STDOUT_FILENO, "SDL_Quit\n", 9);
    raise_if_asked("STAND_IN_QUIT_SIGNAL");
    real<void()>("SDL_Quit")();
}

// With a 64-bit time_t on a 32-bit machine (Debian 13's armhf) glibc names
// the call otherwise, and so does the declaration this definition follows.
#if defined __USE_TIME_BITS64 && __TIMESIZE == 32
constexpr char setitimer_name[] = "__setitimer64";
#else
constexpr char setitimer_name[] = "setitimer";
#endif
int setitimer(__itimer_which_t which, const itimerval *timer, itimerval *old) noexcept
{
    itimerval faster = *timer;
    for (timeval *time : {&faster.it_interval, &faster.it_value}) {
        const char *speed = getenv("STAND_IN_TIMER_SPEED");
        const long long microseconds = (time->tv_sec * 1000000LL + time->tv_usec) / (speed ? atoi(speed) : 1);
        *time = {static_cast<time_t>(microseconds / 1000000), static_cast<suseconds_t>(microseconds % 1000000)};
    }
    return real<int(__itimer_which_t, const itimerval *, itimerval *)>(setitimer_name)(which, &faster, old);
}

int memfd_create(const char *name, unsigned int flags) noexcept
{
    if (getenv("STAND_IN_NO_MEMFD") == nullptr) {
        return real<int(const char *, unsigned int)>("memfd_create")(name, flags);
    }
    errno = ENOSYS;
    return -1;
}
