// display-resolution: the one line. Every line of a run, the report and
// each error, goes out through end_run, once; what the libraries write on
// standard error meanwhile is collected, to be dropped on success or given as
// the cause of a failure.
//
// Signal safety: end_run, and all it calls, runs inside signal handlers (a
// bound, a crash) and at exit, breaking in anywhere. Everything it reaches is
// async-signal-safe, as signal-safety(7) lists: write, ppoll, pread, read,
// sigprocmask, and strerrordesc_np, a table lookup; no allocation, no stdio,
// no locale. Its buffers are static: a handler that breaks into end_run never
// returns into it, but _exits, by which time the status is settled.
#include "display-resolution.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/common_interface_defs.h>
#endif

#include <cerrno>
#include <cstring>

volatile std::sig_atomic_t step_under_way = bringing_up;
volatile std::sig_atomic_t settled_status = -1;

namespace {

const char *const step_names[] = {"SDL initialization failed", "SDL_GetCurrentDisplayMode failed",
                                  "Writing to standard output failed"};

// Where the run's own error line goes, and where what the libraries write on
// standard error meanwhile is read back from (-1: nowhere).
volatile std::sig_atomic_t error_output = STDERR_FILENO;
volatile std::sig_atomic_t collected = -1;

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
            // room, as the run's own wait, not the libraries'.
            pollfd room{descriptor, POLLOUT, 0};
            c_library_ppoll(&room, 1, nullptr, nullptr);
        } else if (written == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

} // namespace

// Every line of the run goes out through here, once: the report (status 0,
// `size_or_reason` the size) on standard output, or an error line (status
// 1) naming the step under way, with `size_or_reason` as its reason and what
// the libraries said as the cause (or, with no reason, as the reason; where
// they said nothing, `cause_if_silent`). A report that cannot be written
// becomes the error line of the write. Returns the run's exit status,
// settled by the first call.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the texts in the line's order.
int end_run(int status, const char *size_or_reason, const char *cause_if_silent)
{
    if (settled_status >= 0) {
        return settled_status;
    }
    static char line[line_size];
    size_t end = 0;
    const char *reason = size_or_reason;
    if (status == 0) {
        append(line, &end, "Current Display Resolution: ");
        append(line, &end, size_or_reason);
        line[end++] = '\n';
        step_under_way = writing;
        heard_from();
        if (write_line(STDOUT_FILENO, line, end)) {
            settled_status = 0;
            return 0;
        }
        reason = strerrordesc_np(errno) != nullptr ? strerrordesc_np(errno) : "Unknown error";
        end = 0;
    }
    const std::sig_atomic_t step = step_under_way;
    bool room = append(line, &end, step_names[step]);
    room = room && append(line, &end, ": ");
    room = room && append(line, &end, reason);
    // What the libraries said is the cause of a failure of theirs, and has
    // nothing to do with our standard output.
    if (room && step != writing) {
        append_said(line, &end, reason != nullptr, cause_if_silent);
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

// Whether the collection is a file in memory, read back through standard
// error itself, rather than a pipe.
bool collected_in_memory()
{
    return collected == STDERR_FILENO;
}
