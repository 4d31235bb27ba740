#!/usr/bin/env bash
# One line, whoever ends the run: a crash, a signal whose default would end it
# silently, a library's exit; once the report is out, status 0. TERM and INT
# end it at once, as any command, and a reader gone by SIGPIPE.
. "$(dirname "$0")/lib.sh"
# one_line COMMAND...: true if COMMAND writes one line, the report with
# status 0 or an error with 1; prints it up to its first "; ".
one_line() {
    local out=$(mktemp "$tmp/out.XXXXXX") err=$(mktemp "$tmp/err.XXXXXX") status
    "$@" >"$out" 2>"$err"; status=$?
    case $status:$(wc -l <"$out"):$(wc -l <"$err"):$(tail -c 1 "$out")$(tail -c 1 "$err") in
    0:1:0:) grep -x "$report: -\?[0-9]*x-\?[0-9]*" "$out" ;;
    1:0:1:) grep -E '^(SDL initialization|SDL_GetCurrentDisplayMode|Writing to standard output) failed: ' "$err" |
        sed 's/; .*//' ;;
    *) false ;;
    esac || { echo "not one line: status $status; stdout: $(cat "$out"); stderr: $(cat "$err")" >&2; false; }
}
# killed_at_random RUNS: true if RUNS runs each give one line, each against
# an X server of its own killed 0 to 20 ms into the run.
killed_at_random() {
    for _ in $(seq "$1"); do
        xvfb random 1234x567
        DISPLAY=$random one_line tool >/dev/null &
        sleep "0.0$((RANDOM % 21))"
        kill -KILL "${servers[-1]}" || return
        wait $!
        local ended=$?
        forget_x "$random"
        [ "$ended" = 0 ] || return
    done 2>/dev/null
}
# stormed SIGNAL COMMAND...: runs COMMAND, sending it SIGNAL in a tight loop
# for a second once it waits in poll(); the status is COMMAND's.
stormed() {
    "${@:2}" &
    wait_for grep -q poll "/proc/$!/wchan"
    timeout 1 nice perl -e '1 while kill @ARGV' "$1" $!
    wait $!
}
export -f one_line killed_at_random stormed
xvfb one 1234x567
xvfb dying 1234x567 && dying_server=${servers[-1]}
xvfb hung 1234x567 && kill -STOP "${servers[-1]}"
sway_compositor healthy 800x600
weston_compositor seatless 1234x567
# Whether Xlib fails or exits where the connection breaks is timing's, and its words.
for replies in 0 3 20; do
    x_proxy closing "$one" "$replies"
    check "x11: the connection closed after $replies replies" 0 'SDL initialization failed\n' '' -- \
        DISPLAY=$closing bash -c 'set -o pipefail; one_line tool | sed "s/: .*//"'
done
check "x11: Xlib's error exit" 0 'SDL initialization failed: X Error of failed request:  BadWindow (invalid Window parameter)\n' '' -- \
    DISPLAY=$one.-1 one_line tool
check 'x11: the server killed at a random moment, 40 runs' 0 '' '' -- killed_at_random 40
check 'x11: the server killed once the line is out' 0 "$report: 1234x567\n" '' -- \
    DISPLAY=$dying stop_after_line $dying_server KILL $EMULATOR "$TOOL"
forget_x "$dying"
check -s "${EMULATOR:+the emulator keeps a stack of its own}${ASAN_OPTIONS:+the sanitizer runtime may run out of so small a stack before main}" \
    'a crash on a small stack, 10 runs' 0 '' '' -- DISPLAY=$one \
    bash -c 'for _ in $(seq 10); do one_line sh -c "ulimit -s 20 && exec \$TOOL" >/dev/null || exit; done'
# A crash inside SDL: the line naming it, or, once the report is out, status 0.
for crash in TRAP:'trace trap' SYS:'bad system call' XCPU:'CPU time limit exceeded'; do
    check "SIG${crash%%:*} inside SDL_Init and SDL_Quit" 0 \
        "SDL initialization failed: Crashed with SIG${crash%%:*} (${crash#*:})\n1\n$report: 1234x567\nSDL_Quit\n0\n" '' -- \
        DISPLAY=$one SIGNAL="$(kill -l "${crash%%:*}")" \
        bash -c 'for call in INIT QUIT; do (export STAND_IN_${call}_SIGNAL=$SIGNAL; stood_in 2>&1); echo $?; done'
done
# SDL 2.26 writes through a null pointer when the compositor offers no seat.
no_seat=(0 "$report: 1234x567\n" '')
[[ $SDL_VERSION != 2.26.* ]] || no_seat=(1 '' 'SDL initialization failed: Crashed with SIGSEGV (segmentation fault)\n')
check 'wayland: no seat' "${no_seat[@]}" -- XDG_RUNTIME_DIR=$seatless WAYLAND_DISPLAY=wayland-1 tool
silent='SDL initialization failed: The display server did not answer within 10 seconds\n'
# qemu-user 10 dies itself of a storm of SIGABRT passed on.
storms=ALRM stormed_lines=$silent
[ -n "$EMULATOR" ] || storms+=' ABRT' stormed_lines+='SDL initialization failed: Crashed with SIGABRT (aborted)\n'
at_once check -t 15 "x11 stopped: a storm of SIG${storms// /, then of SIG}" 1 "$stormed_lines" '' -- \
    DISPLAY=$hung bash -c "for signal in $storms; do stormed \$signal $EMULATOR \$TOOL 2>&1; done"
# qemu-user renumbers the real-time signals it passes on.
ended='SDL initialization failed: Ended by SIGUSR1 (user-defined signal 1)\n' signals=USR1
[ -n "$EMULATOR" ] || ended+='SDL initialization failed: Ended by SIGRTMIN+2 (real-time signal)\n' signals+=' RTMIN+2'
at_once check "x11 stopped: ${signals// / and } end the run with a line" 1 "$ended" '' -- DISPLAY=$hung \
    bash -c "for signal in $signals; do $EMULATOR \$TOOL 2>&1 & wait_for grep -q poll /proc/\$!/wchan
        kill -s \$signal \$!; wait \$!; done"
# env: a background job of a script ignores INT, and so would the tool.
beside=(DISPLAY=$hung XDG_RUNTIME_DIR=$healthy WAYLAND_DISPLAY=wayland-1)
for signal in TERM INT; do
    at_once check -t 3 "$signal ends a hung run" 124 '' '' -- \
        "${beside[@]}" timeout -s $signal 2 env --default-signal=INT $EMULATOR "$TOOL"
done
# The kernel would drop a TERM whose action is the default: sent once the run waits.
at_once check -t 3 -s "${EMULATOR:+the emulator would hang there}" 'TERM as the first process of a PID namespace' 143 '' '' -- \
    DISPLAY=$hung bash -c "${namespace[*]} \$TOOL & wait_for pgrep -P \$! >/dev/null; p=\$(pgrep -P \$!)
        wait_for grep -q poll /proc/\$p/wchan; kill -TERM \$p; wait \$!"
check 'the reader gone: SIGPIPE, nothing written' 0 '141\n' '' -- \
    DISPLAY=$one bash -c '{ sleep 0.5; tool; echo $? >$tmp/piped; } | true; cat $tmp/piped'
# As the first process of a PID namespace the write fails instead.
check -s "${EMULATOR:+the emulator would hang there}" 'the reader gone, as PID 1' 0 '1\n' \
    'Writing to standard output failed: Broken pipe\n' -- \
    DISPLAY=$one bash -c "{ sleep 0.5; ${namespace[*]} \$TOOL; echo \$? >$tmp/pid1; } | true; cat $tmp/pid1"
finish
