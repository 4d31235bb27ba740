#!/usr/bin/env bash
# Limits and sandboxes change no result; the tool needs two descriptors more
# than SDL alone.
. "$(dirname "$0")/lib.sh"
xvfb one 1234x567
xvfb locked cookie 1234x567
check 'stderr closed' 0 "$report: 1234x567\n" '' -- DISPLAY=$one redirected '2>&-' tool
check 'stderr closed, query fails' 1 'SDL_Quit\n' '' -- DISPLAY=$one STAND_IN_MODE=-1 STAND_IN_ERROR=gone \
    redirected '2>&-' stood_in
check 'all closed' 1 '' '' -- DISPLAY=$one redirected '<&- >&- 2>&-' tool
# Signals our caller left blocked and pending are none of the run's.
check -s "${EMULATOR:+the emulator would take them itself}" 'signals left pending' 0 "$report: 1234x567\n" '' -- \
    DISPLAY=$one perl -e 'use POSIX; sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM, SIGSEGV));
        kill "ALRM", $$; kill "SEGV", $$; exec @ARGV' "$TOOL"
# No write into the collection ends the run, none refused lets their words
# loose. SDL 2 comes up on its virtual display; SDL 3 fails.
cookie_line='SDL initialization failed: No available video device (Authorization required, but no authorization protocol specified)\n'
check 'memfd refused: the cause still given' 1 "$(by_sdl 'SDL_Quit\n' '')" "$cookie_line" -- \
    DISPLAY=$locked XAUTHORITY=/dev/null STAND_IN_NO_MEMFD=1 stood_in
check 'a file-size limit' 0 "$report: 1234x567\n" '' -- \
    DISPLAY=$one bash -c 'set -o pipefail; prlimit --fsize=0 $EMULATOR $TOOL | cat'
check 'a file-size limit: the cause still given' 1 "$cookie_line" '' -- \
    DISPLAY=$locked XAUTHORITY=/dev/null bash -c 'set -o pipefail; prlimit --fsize=0 $EMULATOR $TOOL 2>&1 | cat'
check -s "${EMULATOR:+the emulator gives no seccomp}" 'memfd and O_TMPFILE refused: the cause still given' \
    1 '' "$cookie_line" -- DISPLAY=$locked XAUTHORITY=/dev/null "$SANDBOXED" "$TOOL"
# At the fewest descriptors SDL alone comes up with, and two more.
only_standard=(perl -e 'use POSIX; POSIX::close($_) for 3 .. 1023; exec @ARGV')
check 'descriptors: two beyond what SDL alone needs' 0 "$report: 1234x567\n" '' -- DISPLAY=$one \
    bash -c 'for bare in $(seq 4 64); do "$@" prlimit --nofile=$bare $EMULATOR $BARE && break; done
        "$@" prlimit --nofile=$((bare + 2)) $EMULATOR $TOOL' - "${only_standard[@]}"
check 'descriptors: too few for the tool' 1 '' 'SDL initialization failed: Too many open files\n' -- \
    DISPLAY=$one "${only_standard[@]}" prlimit --nofile=4 $EMULATOR "$TOOL"
finish
