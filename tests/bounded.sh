#!/usr/bin/env bash
# Bounded waits: 10 seconds of silence, 60 of running, stops not counted, and
# only a bound ends a wait. Rows run at once, as long as the far server.
. "$(dirname "$0")/lib.sh"
silent='SDL initialization failed: The display server did not answer within 10 seconds\n'
xvfb far 1234x567
# Longer than the silence: SDL 2 makes 38 round trips, SDL 3 about 70.
x_proxy far_away "$far" -1 "$(by_sdl 0.4 0.2)"
x_proxy trickling "$far" -1 1.5
x_proxy counted "$far" -1 0 && counting=${servers[-1]}
xvfb hung tcp 1234x567 && kill -STOP "${servers[-1]}"
x_proxy unaccepted "$far" -1 0 "$tmp/never"
x_proxy accepted_late "$far" -1 0 "$tmp/accept"
sway_compositor hung_wayland 1234x567 && kill -STOP "${servers[-1]}"
sway_compositor healthy 800x600
xvfb once 1234x567 && once_server=${servers[-1]}
xvfb unread 1234x567
xvfb paused 1234x567 && paused_server=${servers[-1]}
# SDL's atoms at once, each extension asked once, no XKB: a run's round trips,
# once a first run has made the atoms SDL 3 wants (SDL 3 makes each alone).
check "at most $(by_sdl 40 72) round trips" 0 "$report: 1234x567\n" '' -- DISPLAY=$counted bash -c "for run in 1 2; do
    : >$tmp/counted.trips && tool >$tmp/counted.out && wait_for bash -c '! pgrep -P $counting >/dev/null' || exit; done &&
    cat $tmp/counted.out && [ \$((\$(paste -sd+ $tmp/counted.trips))) -le $(by_sdl 40 72) ]"
at_once check -t $((60 * pace)) 'x11: a live server far away' 0 "$report: 1234x567\n" '' -- DISPLAY=$far_away tool
# A reply every 1.5 s, for ever, on a clock five times as fast: 7.5 s each.
at_once check -t $cap 'x11: a server that trickles, at the cap' 1 '' 'SDL initialization failed: Gave up after 60 seconds\n' -- \
    DISPLAY=$trickling STAND_IN_TIMER_SPEED=5 stood_in
for server in "x11: server stopped=$hung" "x11 over tcp: server stopped=127.0.0.1$hung" \
    "x11 over tcp: connection never accepted=$unaccepted"; do
    at_once check -t $silence "${server%%=*}" 1 '' "$silent" -- DISPLAY=${server#*=} tool
done
at_once check -t $silence 'wayland: compositor stopped' 1 '' "$silent" -- XDG_RUNTIME_DIR=$hung_wayland WAYLAND_DISPLAY=wayland-1 tool
at_once check -t $silence 'x11 stopped, wayland beside it: no late answer' 1 '' "$silent" -- \
    DISPLAY=$hung XDG_RUNTIME_DIR=$healthy WAYLAND_DISPLAY=wayland-1 tool
# Its silence begins once the line is out, after the start-up.
at_once check -t $cap 'x11: server stopped once the line is out' 0 "$report: 1234x567\n" '' -- \
    DISPLAY=$once stop_after_line $once_server STOP $EMULATOR "$TOOL"
at_once check -t $silence 'standard output a full pipe nobody reads' 1 '' \
    'Writing to standard output failed: Timed out after 10 seconds\n' -- DISPLAY=$unread \
    bash -c "mkfifo $tmp/full && exec 5<>$tmp/full && head -c 65536 /dev/zero >&5 && tool >&5"
# As Node's libuv leaves it.
check 'stdout left non-blocking, full for a second' 0 "$report: 1234x567\n" '' -- DISPLAY=$far \
    perl -e 'use Fcntl; pipe(my $out, my $in); fcntl($in, F_SETFL, O_NONBLOCK);
        1 while syswrite($in, q(x) x 4096); if (!fork) { open(STDOUT, q(>&), $in); exec @ARGV }
        close $in; sleep 1; local $/; print <$out> =~ s/^x*//r; wait; exit($? >> 8)' $EMULATOR "$TOOL"
# Stopped longer than the bound while it waits, the server answering meanwhile.
at_once check -t $((20 * pace)) 'a run stopped longer than the bound, then continued' 0 "$report: 1234x567\n" '' -- \
    DISPLAY=$paused bash -c "kill -STOP $paused_server; $EMULATOR \$TOOL & run=\$!
        wait_for grep -q poll /proc/\$run/wchan; kill -STOP \$run; kill -CONT $paused_server
        sleep 12; kill -CONT \$run; wait \$run"
# Only a stop stops the clock; SIGCONT alone does nothing to it.
at_once check -t $silence 'x11: server stopped, SIGCONT every 0.2 seconds' 1 '' "$silent" -- \
    DISPLAY=$hung bash -c "$EMULATOR \$TOOL & while kill -CONT \$! 2>/dev/null; do sleep 0.2; done; wait \$!"
# Someone else's SIGALRM, and a stop, while connect() waits.
at_once check 'x11 over tcp: SIGALRM and a stop while the connection is held' 0 "$report: 1234x567\n" '' -- \
    DISPLAY=$accepted_late bash -c "$EMULATOR \$TOOL & wait_for grep -q wait_woken /proc/\$!/wchan
        kill -ALRM \$!; kill -STOP \$!; sleep 1; kill -CONT \$!; touch $tmp/accept; wait \$!"
# The server is named only where it was waited for: not for a name looked up,
# nor an authority file nobody writes or that never ends (read niced, on the CPU: the cap as limit).
at_once check -t $((45 * pace)) 'x11 by name: a lookup slowed by AAAA queries never answered' 0 "$report: 1234x567\n" '' -- \
    "${by_name[@]}" bash -c 'in_named_network 1 tool'
at_once check -t $((45 * pace)) 'x11 by name: a lookup never answered' 1 '' \
    'SDL initialization failed: No available video device (Looking up far.test failed: Temporary failure in name resolution)\n' -- \
    "${by_name[@]}" bash -c 'in_named_network 0 tool'
mkfifo "$tmp/authority"
at_once check -t $silence 'x11: XAUTHORITY a FIFO nobody writes' 1 '' 'SDL initialization failed: Timed out after 10 seconds\n' -- \
    DISPLAY=$far XAUTHORITY=$tmp/authority tool
at_once check -t $cap "x11: XAUTHORITY /dev/zero, the caller's CPU timers armed" 1 '' \
    'SDL initialization failed: Timed out after 10 seconds\n' -- DISPLAY=$far XAUTHORITY=/dev/zero \
    nice perl -MTime::HiRes=setitimer,ITIMER_VIRTUAL,ITIMER_PROF \
    -e 'setitimer(ITIMER_VIRTUAL, 0.5); setitimer(ITIMER_PROF, 0.5); exec @ARGV' $EMULATOR "$TOOL"
finish
