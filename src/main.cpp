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
// Caveats: what the dynamic loader prints before main reaches standard error
// unchanged; a report line that a full disk cuts short stays where it was
// written, followed by the error line; on a console with several cards SDL
// may be brought up twice, the second time on the card display 0 is on.
#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <linux/kd.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/common_interface_defs.h>
#endif

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

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

// sdl2-compat, SDL 2's interface over SDL 3, numbers its versions from 2.x.50.
constexpr Uint8 first_sdl3_patch = 50;

// What the run is doing, named in the line that reports its failure.
enum step : std::uint8_t { bringing_up, querying, writing };
const char *const step_names[] = {"SDL initialization failed", "SDL_GetCurrentDisplayMode failed",
                                  "Writing to standard output failed"};
volatile std::sig_atomic_t step_under_way = bringing_up;

// What the run waits for, where it knows: a reply or a connection from the
// display server (or the session bus, where SDL keeps it), or a name being
// looked up. A bound that ends a wait names it only then.
enum wait : std::uint8_t { unnamed, display_server, name_lookup };
volatile std::sig_atomic_t waiting_for = unnamed;
// Set once a display server has answered while SDL came up.
volatile std::sig_atomic_t display_answered = 0;

// The exit status of a run whose one line is out (or on its way), and -1
// before that: from then on nothing may add a line or change the status.
volatile std::sig_atomic_t settled_status = -1;

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

// Where the run's own error line goes, and where what the libraries write on
// standard error meanwhile is read back from (-1: nowhere).
volatile std::sig_atomic_t error_output = STDERR_FILENO;
volatile std::sig_atomic_t collected = -1;

// A line of at most PIPE_BUF bytes goes into a pipe in one piece.
constexpr size_t line_size = PIPE_BUF;
constexpr char cut_mark[] = "...";
// Room is kept for the cut mark, a closing parenthesis and the line feed.
constexpr size_t line_room = line_size - (sizeof cut_mark - 1) - 2;

// -- The run's clock: milliseconds of running, counted in ticks.

// What the run waits for has said something: the silence begins anew.
void heard_from()
{
    heard_at_ms = run_time_ms;
}

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

// -- The one line: every line of the run goes out through end_run, once.

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

// Reads what the libraries said, from the start of the file in memory or
// from the pipe, into `said`, or where they said nothing, `stand_in`;
// returns its length.
ssize_t read_said(char *said, const char *stand_in)
{
    ssize_t length = collected < 0 ? 0 : pread(collected, said, line_size, 0);
    if (length < 0 && errno == ESPIPE) {
        length = read(collected, said, line_size);
    }
    if (length <= 0 && stand_in != nullptr) {
        length = static_cast<ssize_t>(strnlen(stand_in, line_size));
        memcpy(said, stand_in, static_cast<size_t>(length));
    }
    return length;
}

// Appends what the libraries said on standard error, its lines joined by
// "; ": in parentheses after the reason given, or as the reason where none
// is; where they said nothing, `cause_if_silent` in their place. The buffer
// is static for the reason end_run's is.
void append_said(char *line, size_t *end, bool reason_given, const char *cause_if_silent)
{
    static char said[line_size + 1];
    const ssize_t length = read_said(said, cause_if_silent);
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

// Writes all of the line, within the bounds; true once it is out. Each
// piece taken starts the silence anew.
bool write_line(int descriptor, const char *line, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t written = write(descriptor, line + done, length - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            heard_from();
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Left non-blocking by our caller, and full for now: wait for
            // room. Not poll, which is the libraries' door.
            pollfd room{descriptor, POLLOUT, 0};
            ppoll(&room, 1, nullptr, nullptr);
        } else if (written == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Every line of the run goes out through here, once: the report (status 0,
// `text` the size) on standard output, or an error line (status 1) naming
// the step under way, with `text` its reason and what the libraries said as
// the cause (or, with no text, as the reason; where they said nothing,
// `cause_if_silent`). Returns the run's exit status, settled by the first
// call. Async-signal-safe. The buffers are static: a signal handler that
// breaks in here never returns into it.
int end_run(int status, const char *text, const char *cause_if_silent = nullptr)
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
        heard_from();
        if (write_line(STDOUT_FILENO, line, end)) {
            settled_status = 0;
            return 0;
        }
        const char *reason = strerrordesc_np(errno);
        text = reason != nullptr ? reason : "Unknown error";
        end = 0;
    }
    // What the libraries said is the cause of a failure of theirs, and has
    // nothing to do with our standard output.
    const std::sig_atomic_t step = step_under_way;
    if (append(line, &end, step_names[step]) && append(line, &end, ": ") && append(line, &end, text) &&
        step != writing) {
        append_said(line, &end, text != nullptr, cause_if_silent);
    }
    line[end++] = '\n';
    settled_status = 1;
    // A standard error nobody reads must not hold the run either: the clock
    // may break into this write even where a handler makes it, and then
    // finds the run settled. Nothing else is let in.
    sigset_t clock;
    sigemptyset(&clock);
    sigaddset(&clock, SIGALRM);
    sigprocmask(SIG_UNBLOCK, &clock, nullptr);
    heard_from();
    write_line(error_output, line, end);
    return 1;
}

// -- Signals: the clock's tick, a crash or another ending, a library's exit.

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
        realtime[end++] = static_cast<char>('0' + offset / 10 % 10);
    }
    realtime[end++] = static_cast<char>('0' + offset % 10);
    memcpy(realtime + end, " (real-time signal)", sizeof " (real-time signal)");
    return realtime;
}

// A tick of the run's own timer (SI_KERNEL): the clock moves on, and a bound
// that has passed ends the run. Someone else's SIGALRM moves nothing.
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

// Ends a run that a signal cut short: a crash inside the libraries, a
// signal whose default would end it with no line, a display connection
// gone. Once the line is out the result stands.
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

// Xlib ends the process itself when the X server fails it: the run still
// ends with its one line, and once that is out, with its own status.
void end_exited_run(int status, void * /*unused*/)
{
    const int settled = end_run(1, nullptr);
    if (settled != status) {
        _exit(settled);
    }
}

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

// Points standard error at a collection, and keeps the real one for the
// run's own line: a file in memory, read back through standard error itself,
// or where a sandbox refuses that or a file-size limit could end a write
// into it, a pipe that nothing written to it can fill or break. False, with
// errno set, where the descriptors run out.
bool start_collecting()
{
    const int real_error = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (real_error < 0) {
        return false;
    }
    rlimit file_size{};
    getrlimit(RLIMIT_FSIZE, &file_size);
    int file = -1;
    int reader = STDERR_FILENO;
    errno = 0;
    if (file_size.rlim_cur == RLIM_INFINITY) {
        file = memfd_create("standard error", MFD_CLOEXEC);
    }
    int ends[2];
    if (file < 0 && errno != EMFILE && errno != ENFILE && pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        reader = ends[0];
        file = ends[1];
    }
    if (file < 0 || dup2(file, STDERR_FILENO) < 0) {
        const int failure = errno;
        close(real_error);
        errno = failure;
        return failure != EMFILE && failure != ENFILE;
    }
    close(file);
    error_output = real_error;
    collected = reader;
#ifdef __SANITIZE_ADDRESS__
    // A sanitizer's report is no library's remark: it goes where it would have.
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(real_error)));
#endif
    return true;
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
    const int compose = collected == STDERR_FILENO ? memfd_create("compose", MFD_CLOEXEC) : -1;
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
    // Suspending the screensaver would reset the X server's idle time.
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1", SDL_HINT_OVERRIDE);
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
    } else {
        // A reply waited for may then be the bus's.
        snprintf(server_silent, sizeof server_silent,
                 "The display server or the session bus did not answer within %d seconds", silence_seconds);
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

// What the run had to try where no display system could be reached and
// the libraries said nothing: the variables as our caller set them, and
// the console's cards.
const char *what_was_tried(const char *display, const char *wayland_display)
{
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
    const bool display_set = display != nullptr && *display != '\0';
    const bool wayland_set = wayland_display != nullptr && *wayland_display != '\0';
    static char tried[line_size];
    snprintf(tried, sizeof tried, "%s%s, %s%s, %s", display_set ? "DISPLAY=" : "DISPLAY unset",
             display_set ? display : "", wayland_set ? "WAYLAND_DISPLAY=" : "WAYLAND_DISPLAY unset",
             wayland_set ? wayland_display : "", console);
    return tried;
}

} // namespace

// The libraries' waits, and the calls they begin them with, pass through
// here, each marked as a wait the run knows: it takes the name for the
// linker only, as the C library's header may define it too, and is exported
// for the libraries (see CMakeLists.txt).

// libxcb, libwayland and libdbus wait for every reply in poll(), whatever
// else they call: each reply heard begins the silence anew. A signal that
// does not end the run does not end the wait either.
extern "C" int wait_for_reply(pollfd *fds, nfds_t nfds, int timeout) __asm__("poll");
extern "C" int wait_for_reply(pollfd *fds, nfds_t nfds, int timeout)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeout / 1000;
    deadline.tv_nsec += timeout % 1000 * 1000000L;
    timespec left{timeout / 1000, timeout % 1000 * 1000000L};
    const std::sig_atomic_t outer_wait = waiting_for;
    if (outer_wait == unnamed) {
        waiting_for = display_server;
    }
    int ready = 0;
    while ((ready = ppoll(fds, nfds, timeout < 0 ? nullptr : &left, nullptr)) < 0 && errno == EINTR) {
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

// -- X11: what SDL sets up for windows and keys we never use, answered
// here. Where SDL links libX11 (Debian's SDL 2 does, and SDL 3, which
// sdl2-compat loads), the executable's definitions take its calls; each
// gives way to libX11's own wherever it does not apply, and libX11's calls
// to itself never come here.

namespace {

// The atoms SDL 2 interns as it comes up, each with a round trip of its
// own, and those SDL 3 (as of 3.4) interns besides most of them. SDL 3's
// list changes with its version: there only atoms the server has already
// are fetched, so that none is made that SDL would not make.
const char *const sdl2_atoms[] = {
    "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_NAME", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_FOCUSED", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ",
    "_NET_WM_STATE_FULLSCREEN", "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
    "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_FULLSCREEN", "_NET_WM_NAME", "_NET_WM_ICON_NAME", "_NET_WM_ICON",
    "_NET_WM_PING", "_NET_WM_WINDOW_OPACITY", "_NET_WM_USER_TIME", "_NET_ACTIVE_WINDOW", "_NET_FRAME_EXTENTS",
    "_SDL_WAKEUP", "UTF8_STRING", "PRIMARY", "XdndEnter", "XdndPosition", "XdndStatus", "XdndTypeList",
    "XdndActionCopy", "XdndDrop", "XdndFinished", "XdndSelection", "XKLAVIER_STATE", "_NET_SUPPORTING_WM_CHECK",
    "EDID"};
const char *const sdl3_atoms[] = {"WM_TRANSIENT_FOR", "_NET_WM_MOVERESIZE", "_NET_WM_STATE_MODAL",
                                  "_NET_WM_SYNC_REQUEST", "_NET_WM_SYNC_REQUEST_COUNTER", "CLIPBOARD", "INCR",
                                  "SDL_SELECTION", "TARGETS", "SDL_FORMATS", "XdndAware", "XdndLeave"};
constexpr int sdl2_atom_count = sizeof sdl2_atoms / sizeof *sdl2_atoms;
constexpr int sdl3_atom_count = sizeof sdl3_atoms / sizeof *sdl3_atoms;
Display *atoms_fetched_for = nullptr;

// What the server said of each extension asked about, while its display
// is open.
struct extension {
    Display *display;
    char name[32];
    Bool present;
    int opcode, event, error;
};
extension extensions_asked[16];

// libX11's own definition of `name`, looked up once, into `found`, in the
// library itself: where SDL was loaded by name, libX11 came with it, out of
// the reach of RTLD_NEXT. It is loaded, as a display is open.
template <typename Function> Function *libx11(Function *&found, const char *name)
{
    if (found == nullptr) {
        void *library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
        if (library != nullptr) {
            found = reinterpret_cast<Function *>(dlsym(library, name));
            dlclose(library);
        }
    }
    return found;
}

} // namespace

// Setting the locale's modifiers has libX11 load its locale database, most
// of a run's cost in libX11, for the input method; none is opened, so none
// matters. The modifiers are said to be none.
extern "C" char *XSetLocaleModifiers(const char * /*modifiers*/)
{
    static char none[] = "";
    return none;
}

// SDL opens an input method for what is typed into its windows; we open no
// window and read no keys. SDL goes on without one, as it does where the
// user has none.
extern "C" XIM XOpenIM(Display * /*display*/, XrmDatabase /*database*/, char * /*name*/, char * /*class_name*/)
{
    return nullptr;
}

// The first of SDL's atoms that it asks for brings the others with it, in
// one round trip, into libX11's cache; every atom is still interned by
// libX11 itself, from its cache or from the server.
extern "C" Atom XInternAtom(Display *display, const char *name, Bool only_if_exists)
{
    static decltype(&XInternAtom) intern = nullptr;
    bool listed = false;
    const char *names[sdl2_atom_count + sdl3_atom_count];
    for (int i = 0; i < sdl2_atom_count + sdl3_atom_count; ++i) {
        names[i] = i < sdl2_atom_count ? sdl2_atoms[i] : sdl3_atoms[i - sdl2_atom_count];
        listed = listed || strcmp(names[i], name) == 0;
    }
    if (listed && display != atoms_fetched_for) {
        atoms_fetched_for = display;
        static decltype(&XInternAtoms) intern_all = nullptr;
        SDL_version linked;
        SDL_GetVersion(&linked);
        const bool sdl3 = linked.patch >= first_sdl3_patch;
        Atom atoms[sdl2_atom_count + sdl3_atom_count];
        libx11(intern_all, "XInternAtoms")(display, const_cast<char **>(names),
                                           sdl3 ? sdl2_atom_count + sdl3_atom_count : sdl2_atom_count,
                                           sdl3 ? True : False, atoms);
    }
    return libx11(intern, "XInternAtom")(display, name, only_if_exists);
}

// SDL and the extension libraries ask about the same extension again and
// again; the answer does not change while the display is open.
extern "C" Bool XQueryExtension(Display *display, const char *name, int *opcode, int *event, int *error)
{
    static decltype(&XQueryExtension) query = nullptr;
    extension *unused = nullptr;
    for (extension &asked : extensions_asked) {
        if (asked.display == display && strcmp(asked.name, name) == 0) {
            *opcode = asked.opcode;
            *event = asked.event;
            *error = asked.error;
            return asked.present;
        }
        if (asked.display == nullptr && unused == nullptr) {
            unused = &asked;
        }
    }
    const Bool present = libx11(query, "XQueryExtension")(display, name, opcode, event, error);
    const size_t name_size = strlen(name) + 1;
    if (unused != nullptr && name_size <= sizeof unused->name) {
        *unused = {display, "", present, *opcode, *event, *error};
        memcpy(unused->name, name, name_size);
    }
    return present;
}

// A display closed takes what was learnt of it along.
extern "C" int XCloseDisplay(Display *display)
{
    static decltype(&XCloseDisplay) close_display = nullptr;
    for (extension &asked : extensions_asked) {
        if (asked.display == display) {
            // cppcheck-suppress useStlAlgorithm
            asked = {};
        }
    }
    if (atoms_fetched_for == display) {
        atoms_fetched_for = nullptr;
    }
    return libx11(close_display, "XCloseDisplay")(display);
}

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
    // What the run has to try, as our caller set it: the settings next may
    // change it.
    const char *display = getenv("DISPLAY");
    const char *wayland_display = getenv("WAYLAND_DISPLAY");
    const int compose = spare_the_desktop_session();
    if (compose < 0 && (errno == EMFILE || errno == ENFILE)) {
        return end_run(1, strerrordesc_np(errno));
    }
    spare_the_console();

    const int initialized = bring_up_video();
    if (compose >= 0) {
        close(compose);
    }
    const char *none = "No available video device";
    if (initialized != 0) {
        const char *reason = named_card_unconnected();
        if (reason == nullptr) {
            reason = SDL_GetError();
        }
        return end_run(1, reason, strcmp(reason, none) == 0 ? what_was_tried(display, wayland_display) : nullptr);
    }
    // With no display system to reach, the library falls back to a virtual
    // display whose size means nothing; only report one that was asked for.
    if (fell_back()) {
        const int status = end_run(1, none, what_was_tried(display, wayland_display));
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
