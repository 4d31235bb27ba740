// display-resolution: the guard. The run's clock and its bounds, the
// signal handlers that end a run with its line, and the calls the libraries
// wait in (poll, ppoll, connect, getaddrinfo), which the executable defines and
// exports, so that it hears each answer and knows what it waits for.
//
// Signal safety: the handlers, and what they call here and in line.cpp, run
// whenever a signal breaks in, so they keep to what signal-safety(7) lists:
// no allocation, no stdio, no locale, no lock; state shared with the rest of
// the run is volatile std::sig_atomic_t, or a pointer stored whole; buffers
// are static. snprintf and the like are for guard_run and the interposed
// calls, which run in main's own flow.
#include "display-resolution.h"

#include <SDL.h>

#include <dlfcn.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

// ppoll's name for the linker: where time_t grew to 64 bits on a 32-bit
// machine (Debian 13's armhf), the C library's header and every library
// built with it call it __ppoll64.
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
#define PPOLL_NAME "__ppoll64"
#else
#define PPOLL_NAME "ppoll"
#endif

volatile std::sig_atomic_t display_answered = 0;
// Looked up before main, so that no handler need look it up.
decltype(&ppoll) const c_library_ppoll = reinterpret_cast<decltype(&ppoll)>(dlsym(RTLD_NEXT, PPOLL_NAME));

namespace {

// A wait gives up once what it waits for (the display server, a connection
// being made, standard output) has said nothing for silence_seconds of
// running; a run that is answered, however slowly, gives up after
// cap_seconds of running.
constexpr int silence_seconds = 10;
constexpr int cap_seconds = 60;
// The run's clock counts the ticks of its own timer, one every tick_ms: a
// process that is stopped collects at most one, however long the stop.
constexpr int tick_ms = 100;
// How long the line a signal ends the run with may wait to be taken.
constexpr int last_line_ms = 1000;

// What the run waits for, where it knows: a reply or a connection from the
// display server (or the session bus, where SDL keeps it), or a name being
// looked up. A bound that ends a wait names it only then.
enum wait : std::uint8_t { unnamed, display_server, name_lookup };
volatile std::sig_atomic_t waiting_for = unnamed;

// What the bounds say when they end a run, built from the numbers above.
char server_silent[sizeof "The display server or the session bus did not answer within 2147483647 seconds"];
char timed_out[sizeof "Timed out after 2147483647 seconds"];
char gave_up[sizeof "Gave up after 2147483647 seconds"];
char lookup_gave_up[sizeof "Gave up after 2147483647 seconds looking up " + 256];

// The signals that end a run with a line: every one whose default is to
// dump core but QUIT, which a person sends, and every other whose default is
// to end the process but TERM, INT and HUP, which a person or a supervisor
// sends, SIGPIPE, handled on its own, and ALRM, the clock's. The real-time
// signals are named as the shell names them.
struct ending {
    int signal_number;
    const char *reason;
};
constexpr ending endings[] = {
    {SIGSEGV, "Crashed with SIGSEGV (segmentation fault)"},
    {SIGBUS, "Crashed with SIGBUS (bus error)"},
    {SIGILL, "Crashed with SIGILL (illegal instruction)"},
    {SIGFPE, "Crashed with SIGFPE (arithmetic exception)"},
    {SIGABRT, "Crashed with SIGABRT (aborted)"},
    {SIGTRAP, "Crashed with SIGTRAP (trace trap)"},
    {SIGSYS, "Crashed with SIGSYS (bad system call)"},
    {SIGXCPU, "Crashed with SIGXCPU (CPU time limit exceeded)"},
    {SIGXFSZ, "Crashed with SIGXFSZ (file size limit exceeded)"},
    {SIGUSR1, "Ended by SIGUSR1 (user-defined signal 1)"},
    {SIGUSR2, "Ended by SIGUSR2 (user-defined signal 2)"},
    {SIGVTALRM, "Ended by SIGVTALRM (virtual timer expired)"},
    {SIGPROF, "Ended by SIGPROF (profiling timer expired)"},
    {SIGIO, "Ended by SIGIO (I/O possible)"},
    {SIGPWR, "Ended by SIGPWR (power failure)"},
    {SIGSTKFLT, "Ended by SIGSTKFLT (stack fault)"},
};
int first_realtime_signal = 0;

// The run's clock: milliseconds of running, as its ticks count them, and
// when what it waits for last said something. Once the status is settled,
// the line, or SDL's shutdown, may go unanswered for settled_silence_ms.
volatile std::sig_atomic_t run_time_ms = 0;
volatile std::sig_atomic_t heard_at_ms = 0;
volatile std::sig_atomic_t settled_silence_ms = silence_seconds * 1000;

// The reason a bound ends the run with, or null while none has passed.
const char *bound_passed()
{
    const int now_ms = run_time_ms;
    if (now_ms >= cap_seconds * 1000) {
        return waiting_for == name_lookup ? lookup_gave_up : gave_up;
    }
    // A name lookup waits in the C library's resolver, whose answers go by
    // unheard; its own timeouts bound it, and the cap.
    if (waiting_for == name_lookup || now_ms - heard_at_ms < silence_seconds * 1000) {
        return nullptr;
    }
    return step_under_way != writing && waiting_for == display_server ? server_silent : timed_out;
}

// The reason a signal other than the clock's ends the run with.
const char *ending_reason(int signal_number)
{
    // A plain loop: nothing here may allocate or throw.
    for (const ending &known : endings) {
        // cppcheck-suppress useStlAlgorithm
        if (known.signal_number == signal_number) {
            return known.reason;
        }
    }
    if (signal_number == SIGPIPE) {
        return "The display server closed the connection";
    }
    static char realtime[sizeof "Ended by SIGRTMIN+99 (real-time signal)"] = "Ended by SIGRTMIN+";
    size_t end = sizeof "Ended by SIGRTMIN+" - 1;
    const int offset = signal_number - first_realtime_signal;
    if (offset >= 10) {
        realtime[end++] = static_cast<char>('0' + (offset / 10 % 10));
    }
    realtime[end++] = static_cast<char>('0' + (offset % 10));
    memcpy(realtime + end, " (real-time signal)", sizeof " (real-time signal)");
    return realtime;
}

// A tick of the run's own timer (SI_KERNEL): the clock moves on, and a bound
// that has passed ends the run. Someone else's SIGALRM moves nothing.
// sa_sigaction's type fixes the parameters, const or not.
// cppcheck-suppress constParameterCallback
void count_tick(int /*signal_number*/, siginfo_t *info, void * /*context*/)
{
    if (info->si_code != SI_KERNEL) {
        return;
    }
    run_time_ms = run_time_ms + tick_ms;
    if (settled_status >= 0) {
        // The line is out, or on its way: what holds the run now is SDL's
        // shutdown or a line nobody takes, and the status stands.
        if (run_time_ms - heard_at_ms >= settled_silence_ms) {
            _exit(settled_status);
        }
        return;
    }
    const char *reason = bound_passed();
    if (reason != nullptr) {
        settled_silence_ms = last_line_ms;
        _exit(end_run(1, reason));
    }
}

// Ends a run that a signal cut short. Its exits, by signal and step:
// - any signal once the status is settled (the line out or on its way):
//   _exit with that status; the result stands;
// - SIGPIPE while the report is written, the reader of standard output gone:
//   dies by SIGPIPE, as any command in a pipeline; as the first process of a
//   PID namespace, whom the kernel spares a default action, returns, and the
//   write fails with EPIPE and says so;
// - SIGXFSZ while the report is written, past a file-size limit: returns,
//   and the write fails with EFBIG and says so;
// - SIGPIPE at any other step, a write into the display connection: the
//   line "The display server closed the connection";
// - any other: the line of its reason, a crash or an ending.
void end_signalled_run(int signal_number, siginfo_t * /*info*/, void * /*context*/)
{
    if (settled_status >= 0) {
        _exit(settled_status);
    }
    if (step_under_way == writing && (signal_number == SIGPIPE || signal_number == SIGXFSZ)) {
        // A reader of standard output that has gone away ends us as it ends
        // any command in a pipeline. As the first process of a PID namespace
        // we are still here, and the write fails instead, as does one past a
        // file-size limit, and says so itself.
        const int saved_errno = errno;
        if (signal_number == SIGPIPE) {
            signal(SIGPIPE, SIG_DFL);
            raise(SIGPIPE);
        }
        errno = saved_errno;
        return;
    }
    settled_silence_ms = last_line_ms;
    _exit(end_run(1, ending_reason(signal_number)));
}

// As the first process of a PID namespace the kernel drops the signals whose
// action is the default: those a person or a supervisor sends end the run
// as they would any other, with the status a shell shows for them.
void end_first_process(int signal_number)
{
    _exit(128 + signal_number);
}

// Xlib ends the process itself, with exit(1), when the X server fails it:
// the run still ends with its one line. Once the report is out, the status
// is 0, which exit would turn to 1: _exit keeps it.
void end_exited_run(int status, void * /*unused*/)
{
    const int settled = end_run(1, nullptr);
    if (settled != status) {
        _exit(settled);
    }
}

// Sets `signal_number` to be handled by `action`, dropping one that whoever
// started us left pending (ignored, it is discarded), and adds it to `set`.
void handle(int signal_number, const struct sigaction &action, sigset_t *set)
{
    signal(signal_number, SIG_IGN);
    if (sigaction(signal_number, &action, nullptr) == 0) {
        sigaddset(set, signal_number);
    }
}

} // namespace

// A display server that has stopped answering would hold the run, and its
// caller, for ever; a crash in the libraries, a signal, or a library's own
// exit would end it with no line. Settings made here keep the rule at
// end_run: every handler is async-signal-safe.
void guard_run()
{
    snprintf(server_silent, sizeof server_silent, "The display server did not answer within %d seconds",
             silence_seconds);
    snprintf(timed_out, sizeof timed_out, "Timed out after %d seconds", silence_seconds);
    snprintf(gave_up, sizeof gave_up, "Gave up after %d seconds", cap_seconds);
    first_realtime_signal = SIGRTMIN;
    // The CPU timers our caller may have left armed survive exec, and would
    // end the run with no line: they are none of the run's.
    const itimerval disarmed{};
    setitimer(ITIMER_VIRTUAL, &disarmed, nullptr);
    setitimer(ITIMER_PROF, &disarmed, nullptr);
    // A crash on a stack that has run out must still find room for its line.
    static char signal_stack[1 << 16];
    stack_t stack{};
    stack.ss_sp = signal_stack;
    stack.ss_size = sizeof signal_stack;
    sigaltstack(&stack, nullptr);
    // SA_ONSTACK: the stack above. SA_RESTART: a signal that does not end
    // the run breaks none of the libraries' system calls. No SA_NODEFER, and
    // every signal blocked while a handler runs: a storm of them is taken one
    // at a time, never nested; end_run lets the clock alone in.
    struct sigaction action {};
    action.sa_sigaction = end_signalled_run;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigfillset(&action.sa_mask);
    sigset_t guarded;
    sigemptyset(&guarded);
    for (const ending &known : endings) {
        handle(known.signal_number, action, &guarded);
    }
    for (int signal_number = first_realtime_signal; signal_number <= SIGRTMAX; ++signal_number) {
        handle(signal_number, action, &guarded);
    }
    // Where our caller ignores SIGPIPE, a write to a closed pipe or
    // connection fails instead, and is reported as such.
    struct sigaction pipe_action {};
    sigaction(SIGPIPE, nullptr, &pipe_action);
    if (pipe_action.sa_handler != SIG_IGN) {
        handle(SIGPIPE, action, &guarded);
    }
    if (getpid() == 1) {
        struct sigaction first_process {};
        first_process.sa_handler = end_first_process;
        sigfillset(&first_process.sa_mask);
        for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
            handle(signal_number, first_process, &guarded);
        }
    }
    action.sa_sigaction = count_tick;
    handle(SIGALRM, action, &guarded);
    // Blocked by whoever started us, the clock would never tick.
    sigprocmask(SIG_UNBLOCK, &guarded, nullptr);
    on_exit(end_exited_run, nullptr);
    const auto tick_us = static_cast<suseconds_t>(tick_ms) * 1000;
    const itimerval ticks{{0, tick_us}, {0, tick_us}};
    setitimer(ITIMER_REAL, &ticks, nullptr);
    // SDL's own handlers would only note TERM and INT, and a hung run could
    // then be stopped by nothing short of SIGKILL.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
}

// What the run waits for has said something: the silence begins anew.
void heard_from()
{
    heard_at_ms = run_time_ms;
}

// The session bus is kept (SDL 3 asks GNOME over it): a reply waited for may
// be the bus's.
void name_the_bus_in_silence()
{
    snprintf(server_silent, sizeof server_silent,
             "The display server or the session bus did not answer within %d seconds", silence_seconds);
}

// The libraries' waits, and the calls they begin them with, pass through
// here, each marked as a wait the run knows: it takes the name for the
// linker only, as the C library's header may define it too, and is exported
// for the libraries (see CMakeLists.txt).

// libxcb, libdbus and libwayland wait for every reply in poll(), or (from
// libwayland 1.26, and SDL 3) in ppoll(), whatever else they call: each
// reply heard begins the silence anew. A signal that does not end the run
// does not end the wait either. timeout: how long the caller would wait,
// nullptr for as long as it takes.
namespace {
int wait_for_reply(pollfd *fds, nfds_t nfds, const timespec *timeout, const sigset_t *mask)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    timespec left{};
    if (timeout != nullptr) {
        left = *timeout;
        deadline.tv_sec += left.tv_sec;
        deadline.tv_nsec += left.tv_nsec;
    }
    const std::sig_atomic_t outer_wait = waiting_for;
    if (outer_wait == unnamed) {
        waiting_for = display_server;
    }
    int ready = 0;
    while ((ready = c_library_ppoll(fds, nfds, timeout == nullptr ? nullptr : &left, mask)) < 0 && errno == EINTR) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left_ns = ((deadline.tv_sec - now.tv_sec) * 1000000000LL) + (deadline.tv_nsec - now.tv_nsec);
        left = {static_cast<time_t>(left_ns > 0 ? left_ns / 1000000000 : 0),
                static_cast<long>(left_ns > 0 ? left_ns % 1000000000 : 0)};
    }
    waiting_for = outer_wait;
    if (ready > 0) {
        display_answered = 1;
        heard_from();
    }
    return ready;
}

} // namespace

// The wait's two names. timeout_ms: as poll(2), negative for no limit.
extern "C" int poll_for_reply(pollfd *fds, nfds_t nfds, int timeout_ms) __asm__("poll");
extern "C" int poll_for_reply(pollfd *fds, nfds_t nfds, int timeout_ms)
{
    const timespec timeout{timeout_ms / 1000, timeout_ms % 1000 * 1000000L};
    return wait_for_reply(fds, nfds, timeout_ms < 0 ? nullptr : &timeout, nullptr);
}

extern "C" int ppoll_for_reply(pollfd *fds, nfds_t nfds, const timespec *timeout, const sigset_t *mask)
    __asm__(PPOLL_NAME);
extern "C" int ppoll_for_reply(pollfd *fds, nfds_t nfds, const timespec *timeout, const sigset_t *mask)
{
    return wait_for_reply(fds, nfds, timeout, mask);
}

// A connection being made to a display server (or the session bus) is a
// wait for it too.
extern "C" int connect_to_server(int socket, const sockaddr *address, socklen_t size) __asm__("connect");
extern "C" int connect_to_server(int socket, const sockaddr *address, socklen_t size)
{
    static int (*real_connect)(int, const sockaddr *, socklen_t) = nullptr;
    if (real_connect == nullptr) {
        real_connect = reinterpret_cast<int (*)(int, const sockaddr *, socklen_t)>(dlsym(RTLD_NEXT, "connect"));
    }
    const std::sig_atomic_t outer_wait = waiting_for;
    if (outer_wait == unnamed) {
        waiting_for = display_server;
    }
    const int connected = real_connect(socket, address, size);
    waiting_for = outer_wait;
    if (connected == 0) {
        heard_from();
    }
    return connected;
}

// A display named by host (DISPLAY=host:0) is looked up first, by the C
// library's resolver, which waits where no answer is heard: the lookup is
// bounded by the resolver's own timeouts and the cap, and where it fails
// says so, as the libraries say their failures, to be the cause.
extern "C" int look_up_address(const char *node, const char *service, const addrinfo *hints, addrinfo **found)
    __asm__("getaddrinfo");
extern "C" int look_up_address(const char *node, const char *service, const addrinfo *hints, addrinfo **found)
{
    static int (*real_getaddrinfo)(const char *, const char *, const addrinfo *, addrinfo **) = nullptr;
    if (real_getaddrinfo == nullptr) {
        real_getaddrinfo = reinterpret_cast<int (*)(const char *, const char *, const addrinfo *, addrinfo **)>(
            dlsym(RTLD_NEXT, "getaddrinfo"));
    }
    const char *name = node != nullptr ? node : "";
    snprintf(lookup_gave_up, sizeof lookup_gave_up, "Gave up after %d seconds looking up %s", cap_seconds, name);
    const std::sig_atomic_t outer_wait = waiting_for;
    waiting_for = name_lookup;
    const int failure = real_getaddrinfo(node, service, hints, found);
    const int lookup_errno = errno;
    waiting_for = outer_wait;
    heard_from();
    if (failure != 0) {
        dprintf(STDERR_FILENO, "Looking up %s failed: %s\n", name,
                failure == EAI_SYSTEM ? strerrordesc_np(lookup_errno) : gai_strerror(failure));
    }
    errno = lookup_errno;
    return failure;
}

