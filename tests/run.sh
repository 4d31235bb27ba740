#!/usr/bin/env bash
# Runs the built tool as a process and checks its exit status, standard output
# and standard error exactly. Usage: run.sh GROUP, with TOOL (the executable),
# STAND_IN (the preload library) and EMULATOR (empty for a native build) set.
set -u
tmp=$(mktemp -d)
servers=()
# A stopped server takes its TERM only once it is let go on.
trap 'kill "${servers[@]}" 2>/dev/null; kill -CONT "${servers[@]}" 2>/dev/null; wait; rm -rf "$tmp"' EXIT
# A private runtime directory and a bus address that fails at once keep the
# library quiet and from starting helpers.
export XDG_RUNTIME_DIR=$tmp DBUS_SESSION_BUS_ADDRESS=disabled: TOOL STAND_IN SANDBOXED BARE EMULATOR tmp
unset DISPLAY WAYLAND_DISPLAY SDL_VIDEODRIVER

tool() { $EMULATOR "$TOOL" "$@"; }
stood_in() {
    if [ -n "$EMULATOR" ]; then $EMULATOR -E LD_PRELOAD="$STAND_IN" "$TOOL" "$@"
    else LD_PRELOAD=$STAND_IN "$TOOL" "$@"; fi
}
export -f tool stood_in
# by_sdl SDL2 SDL3: prints what SDL 2 answers, or SDL 3 behind sdl2-compat
# (whose versions run from 2.x.50).
by_sdl() { if [[ $SDL_VERSION == *.[5-9][0-9] ]]; then echo "$2"; else echo "$1"; fi; }
export -f by_sdl

# Display servers and the session bus, each started by a function of its own.
. "$(dirname "$0")/fixtures.sh"

# read_only_on_bus COMMAND...: runs COMMAND, true if it succeeds and each
# method call it made on the session bus (listed in $tmp/calls) is a
# read-only query, and with SDL 2, which asks the bus nothing the tool needs,
# if it made none at all; the others go to standard error. A message of our
# own marks the end.
read_only_on_bus() {
    local start
    start=$(wc -l <"$tmp/bus.log")
    "$@" || return
    dbus-send --dest=org.freedesktop.DBus "/end/$start" org.freedesktop.DBus.Peer.Ping
    wait_for bash -c "tail -n +$start $tmp/bus.log | grep -q 'path=/end/$start;'"
    tail -n +"$start" "$tmp/bus.log" | awk -v end="path=/end/$start;" '
        { sender = $0; sub(/.* sender=/, "", sender); sub(/ .*/, "", sender) }
        index($0, end) { marker = sender; exit }
        /^method call/ {
            call = $0; sub(/.* interface=/, "", call); sub(/; member=/, ".", call)
            if (call == "org.freedesktop.DBus.Hello") joined[sender] = 1
            senders[++n] = sender; calls[n] = call
        }
        END { for (i = 1; i <= n; i++) if (senders[i] in joined && senders[i] != marker) print calls[i] }' >"$tmp/calls"
    [ "$(by_sdl 2 3)" = 3 ] || { ! grep . "$tmp/calls" >&2; return; }
    # The bus's own bookkeeping, the desktop's settings and GNOME's layout.
    ! grep -vx -e 'org\.freedesktop\.DBus\.\(Hello\|AddMatch\|RemoveMatch\|GetNameOwner\)' \
        -e org.freedesktop.portal.Settings.Read -e org.gnome.Mutter.DisplayConfig.GetCurrentState "$tmp/calls" >&2
}
# idle_kept COMMAND...: runs COMMAND, true if it succeeds and the X server's
# idle time, over a second by then, goes on counting.
idle_kept() {
    local before
    until [ "$(xprintidle)" -gt 1000 ]; do sleep 0.2; done
    before=$(xprintidle)
    "$@" && [ "$(xprintidle)" -ge "$before" ]
}
export -f wait_for read_only_on_bus idle_kept
export SDL_VERSION

# stop_after_line PID SIGNAL COMMAND...: runs COMMAND with its standard
# output held up in a full pipe, sends SIGNAL to process PID once COMMAND
# waits to write there, then lets its output through; the status is COMMAND's.
stop_after_line() {
    local server=$1 signal=$2 command status line
    shift 2
    mkfifo "$tmp/held.$BASHPID" && exec 5<>"$tmp/held.$BASHPID" && head -c 65536 /dev/zero >&5
    "$@" >&5 &
    command=$!
    wait_for grep -q pipe_write "/proc/$command/wchan" || echo "never wrote to the pipe" >&2
    kill -"$signal" "$server"
    head -c 65536 <&5 >/dev/null
    wait "$command"
    status=$?
    read -r -t 1 line <&5 && echo "$line"
    return $status
}
# one_line COMMAND...: runs COMMAND, true if all it writes is one line: the
# report on standard output with status 0, or an error line on standard
# error with status 1; prints that line up to its first "; ".
one_line() {
    local out err status
    out=$(mktemp "$tmp/out.XXXXXX") err=$(mktemp "$tmp/err.XXXXXX")
    "$@" >"$out" 2>"$err"
    status=$?
    case $status:$(wc -l <"$out"):$(wc -l <"$err"):$(tail -c 1 "$out")$(tail -c 1 "$err") in
    0:1:0:) grep -x "$report: -\?[0-9]*x-\?[0-9]*" "$out" ;;
    1:0:1:) grep -e '^SDL initialization failed: ' -e '^SDL_GetCurrentDisplayMode failed: ' \
        -e '^Writing to standard output failed: ' "$err" | sed 's/; .*//' ;;
    *) false ;;
    esac || { echo "not one line: status $status; stdout: $(cat "$out"); stderr: $(cat "$err")" >&2; false; }
}
# killed_at_random RUNS: runs the tool RUNS times, each against an X server
# of its own killed 0 to 20 ms into the run; true if each gives one line.
killed_at_random() {
    local server run ended
    for _ in $(seq "$1"); do
        Xvfb -noreset -nolisten tcp -displayfd 3 3>"$tmp/random" 2>/dev/null &
        server=$!
        wait_for test -s "$tmp/random" || return
        DISPLAY=:$(cat "$tmp/random") one_line tool >/dev/null &
        run=$!
        sleep "0.0$((RANDOM % 21))"
        kill -KILL $server
        wait $server 2>/dev/null
        wait $run
        ended=$?
        forget_x ":$(cat "$tmp/random")"
        : >"$tmp/random"
        [ "$ended" = 0 ] || return
    done
}
# stormed SIGNAL COMMAND...: runs COMMAND and, once it waits in poll(),
# sends it SIGNAL in a tight loop for a second; the status is COMMAND's.
stormed() {
    local signal=$1 command
    shift
    "$@" &
    command=$!
    wait_for grep -q poll "/proc/$command/wchan"
    timeout 1 nice perl -e '1 while kill @ARGV' "$signal" "$command"
    wait "$command"
}
# Run a command as the first process of a PID namespace, or in network and
# mount namespaces of its own.
namespace=(unshare --pid --fork) by_name=(unshare -mn)
[ "$(id -u)" = 0 ] || namespace=(unshare --map-root-user --pid --fork) by_name=(unshare --map-root-user -mn)
export -f stop_after_line one_line killed_at_random forget_x stormed in_named_network name_server
export report='Current Display Resolution'

# Rows that bound time only to catch a hang allow an emulator four times as
# long. A run ends at most half a second after its 10 seconds of silence (at
# the trickling server's cap, 12 seconds in); the emulator is allowed three,
# which it takes to load the tool.
pace=1 silence=10.5 cap=12.5
[ -z "$EMULATOR" ] || pace=4 silence=13 cap=15
# The sanitizers' start-up, twenty rows at once, takes half a second more.
[ -z "${ASAN_OPTIONS:-}" ] || silence=11

# check NAME STATUS STDOUT STDERR COMMAND [SECONDS]: runs the shell line
# COMMAND, which must end within SECONDS (30 by default, times the pace; to a
# tenth, as in 10.5); the expected streams take printf's backslash escapes.
check() {
    local row limit=${6:-$((30 * pace))} start=${EPOCHREALTIME/./} status took tenths=0
    [[ $limit != *.* ]] || tenths=${limit#*.}
    row=$(mktemp -d "$tmp/row.XXXXXX")
    timeout $((${limit%.*} + 5)) bash -c "$5" >"$row/out" 2>"$row/err"
    status=$?
    took=$(((${EPOCHREALTIME/./} - start) / 1000))
    printf '%b' "$3" >"$row/out.want"
    printf '%b' "$4" >"$row/err.want"
    if [ "$status" = "$2" ] && [ "$took" -le $((${limit%.*} * 1000 + tenths * 100)) ] &&
        cmp -s "$row/out" "$row/out.want" && cmp -s "$row/err" "$row/err.want"; then
        echo "ok: $1" | tee -a "$tmp/results"
    else
        { echo "FAILED: $1: status $status, expected $2; $took ms, limit $limit s; $5"
            diff -u --label 'expected stdout' --label stdout "$row/out.want" "$row/out"
            diff -u --label 'expected stderr' --label stderr "$row/err.want" "$row/err"
        } >"$row/report"
        echo FAILED >>"$tmp/results" && cat "$row/report"
    fi
}
# at_once check ...: runs a row beside the others, for rows that wait long.
rows=()
at_once() {
    "$@" &
    rows+=($!)
}

case $1 in
x11)
    xvfb one 1234x567
    xvfb two 1366x701 640x480
    check 'one screen' 0 "$report: 1234x567\n" '' "DISPLAY=$one tool"
    check 'arguments change nothing' 0 "$report: 1234x567\n" '' \
        "DISPLAY=$one tool -h --help --version '' 'two words' %s%n 0 -- -"
    check 'two screens: only the first' 0 "$report: 1366x701\n" '' "DISPLAY=$two tool"
    # With no session bus the library would have one autolaunched; nothing the
    # run starts may outlive it.
    check 'no session bus, nothing left running' 0 "$report: 1234x567\n" '' \
        "unset DBUS_SESSION_BUS_ADDRESS; DISPLAY=$one RUN_MARK=$tmp tool; ! grep -las RUN_MARK=$tmp /proc/[0-9]*/environ"
    # SDL's atoms in one round trip, each extension asked about once, no
    # keyboard extension: the round trips of a run, as a proxy counts them.
    x_proxy counted "$one" -1 0
    check "at most $(by_sdl 40 72) round trips" 0 "$report: 1234x567\n" '' \
        "DISPLAY=$counted tool && wait_for bash -c '! pgrep -P ${servers[-1]} >/dev/null' &&
            [ \$((\$(paste -sd+ $tmp/counted.trips))) -le $(by_sdl 40 72) ]"
    ;;
wayland)
    sway_compositor runtime 1234x567
    check 'wayland' 0 "$report: 1234x567\n" '' "XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1 tool"
    check 'wayland, socket by path' 0 "$report: 1234x567\n" '' \
        "unset XDG_RUNTIME_DIR; WAYLAND_DISPLAY=$runtime/wayland-1 tool"
    ;;
multi-output)
    # One X screen over two monitors, as on a laptop with a screen plugged in.
    xorg x
    # Each row starts from the layout xorg sets up, then changes it.
    on_x11="export DISPLAY=$x; xrandr --output DUMMY0 --mode 1024x768 --pos 0x0 --output DUMMY1 --mode 800x600 --pos 1024x0"
    check 'x11: the primary output, right of another' 0 "$report: 800x600\n" '' "$on_x11 --primary && tool"
    check 'x11: no primary, the first output in RandR order' 0 "$report: 1024x768\n" '' \
        "$on_x11 --pos 0x0 --noprimary --output DUMMY0 --pos 800x0 && tool"
    check 'x11: a mode change, seen by the next run' 0 "$report: 1024x768\n$report: 640x480\n" '' \
        "$on_x11 --output DUMMY0 --primary && tool && xrandr --output DUMMY0 --mode 640x480 && tool"
    check 'x11: the primary output switched off' 0 "$report: 800x600\n" '' \
        "$on_x11 --output DUMMY0 --primary && xrandr --output DUMMY0 --off && tool"
    # SDL 2.26 finds no display then; later versions report the bare X screen,
    # which the server has shrunk to its smallest size.
    case $SDL_VERSION in
    2.26.*) off=(1 '' 'SDL initialization failed: No available displays\n') ;;
    *) off=(0 "$report: 64x64\n" '') ;;
    esac
    check 'x11: every output switched off' "${off[@]}" "$on_x11 && xrandr --output DUMMY0 --off --output DUMMY1 --off && tool"
    # A card named for the console takes no blame for X11.
    check 'x11: every output switched off, SDL_KMSDRM_DEVICE_INDEX left set' "${off[@]}" \
        "$on_x11 && xrandr --output DUMMY0 --off --output DUMMY1 --off && SDL_KMSDRM_DEVICE_INDEX=0 tool"
    sway_compositor runtime 1234x567
    on_wayland="export XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1;"
    check 'wayland: an output turned 90 degrees' 0 "$report: 567x1234\n" '' \
        "$on_wayland swaymsg output HEADLESS-1 transform 90 >/dev/null && tool"
    # SDL 2 reports a scaled output's logical size; SDL 3 its size in pixels.
    scaled=$(by_sdl 1280x720 2560x1440)
    check 'wayland: an output at scale 2' 0 "$report: $scaled\n" '' \
        "$on_wayland swaymsg output HEADLESS-1 mode 2560x1440 scale 2 transform normal >/dev/null && tool"
    scaled=$(by_sdl 1706x960 2560x1440)
    check 'wayland: an output at scale 1.5' 0 "$report: $scaled\n" '' \
        "$on_wayland swaymsg output HEADLESS-1 scale 1.5 >/dev/null && tool"
    # A second output, added later, leftmost and focused.
    swaymsg output HEADLESS-1 mode 1234x567 scale 1 pos 800 0 >/dev/null && swaymsg create_output >/dev/null &&
        swaymsg output HEADLESS-2 mode 800x600 pos 0 0 >/dev/null || broken "sway did not add a second output"
    check 'wayland: two outputs' 0 "$report: 1234x567\n" '' "$on_wayland tool"
    ;;
no-display)
    ! grep -qsx connected /sys/class/drm/card*-*/status || skip "this machine has a screen on a DRM card"
    # What the run had to try is the cause, where the libraries say nothing.
    none='SDL initialization failed: No available video device (DISPLAY unset, WAYLAND_DISPLAY unset, no DRM card with a connected output)\n'
    check 'no display' 1 '' "$none" 'tool'
    check 'no display, with arguments' 1 '' "$none" 'tool --help x'
    check 'a stale DISPLAY' 1 '' "${none/DISPLAY unset/DISPLAY=:99}" 'DISPLAY=:99 tool'
    # libwayland would add a line of its own about the missing directory.
    check 'no display, no runtime directory' 1 '' "$none" 'unset XDG_RUNTIME_DIR; tool'
    check 'wayland asked for, no runtime directory' 1 '' \
        'SDL initialization failed: wayland not available\n' 'unset XDG_RUNTIME_DIR; SDL_VIDEODRIVER=wayland tool'
    check 'x11 asked for, no display' 1 '' 'SDL initialization failed: x11 not available\n' \
        'SDL_VIDEODRIVER=x11 tool'
    check 'offscreen asked for' 0 "$report: 1024x768\n" '' 'SDL_VIDEODRIVER=offscreen tool'
    check 'dummy asked for' 0 "$report: 1024x768\n" '' 'SDL_VIDEODRIVER=dummy tool'
    # A card number too large for a long, which SDL passes over where a long
    # has 64 bits; with 32 it takes the largest int, and the tool names the
    # card as written.
    out_of_range='kmsdrm not available'
    [ "$(od -An -tx1 -j4 -N1 "$TOOL")" != ' 01' ] ||
        out_of_range='SDL_KMSDRM_DEVICE_INDEX names card99999999999999999999, which has no connected output'
    check 'kmsdrm asked for, SDL_KMSDRM_DEVICE_INDEX out of range' 1 '' "SDL initialization failed: $out_of_range\n" \
        'SDL_VIDEODRIVER=kmsdrm SDL_KMSDRM_DEVICE_INDEX=99999999999999999999 tool'
    ;;
streams)
    xvfb one 1234x567
    check 'stdout full' 1 '' 'Writing to standard output failed: No space left on device\n' \
        "DISPLAY=$one tool >/dev/full"
    check 'stdout closed' 1 '' 'Writing to standard output failed: Bad file descriptor\n' \
        "DISPLAY=$one tool >&-"
    check 'stderr closed' 0 "$report: 1234x567\n" '' "DISPLAY=$one tool 2>&-"
    check 'stderr closed, query fails' 1 'SDL_Quit\n' '' \
        "DISPLAY=$one STAND_IN_MODE=-1 STAND_IN_ERROR=gone stood_in 2>&-"
    check 'all closed' 1 '' '' "DISPLAY=$one tool <&- >&- 2>&-"
    # As Node's libuv leaves it.
    check 'stdout left non-blocking, full for a second' 0 "$report: 1234x567\n" '' \
        "DISPLAY=$one perl -e 'use Fcntl; pipe(my \$out, my \$in); fcntl(\$in, F_SETFL, O_NONBLOCK);
            1 while syswrite(\$in, q(x) x 4096); if (!fork) { open(STDOUT, q(>&), \$in); exec @ARGV }
            close \$in; sleep 1; local \$/; print <\$out> =~ s/^x*//r; wait; exit(\$? >> 8)' \$EMULATOR \$TOOL"
    ;;
stand-in)
    # The stand-in writes SDL_Quit to standard output when the program calls
    # it; with standard error there too, the order shows.
    export SDL_VIDEODRIVER=offscreen
    check 'query fails' 1 'SDL_GetCurrentDisplayMode failed: no mode\nSDL_Quit\n' '' \
        'STAND_IN_MODE=-1 STAND_IN_ERROR="no mode" stood_in 2>&1'
    check 'query fails, empty text' 1 'SDL_GetCurrentDisplayMode failed: \nSDL_Quit\n' '' 'STAND_IN_MODE=-1 stood_in 2>&1'
    check 'query gives 1' 1 'SDL_GetCurrentDisplayMode failed: odd\nSDL_Quit\n' '' \
        'STAND_IN_MODE=1 STAND_IN_ERROR=odd stood_in 2>&1'
    # Control characters, backslashes, C1 controls and bytes that are no
    # UTF-8 are escaped; other characters pass.
    check 'query fails, text to escape' 1 'SDL_Quit\n' \
        'SDL_GetCurrentDisplayMode failed: a\\tb\\\\c\\x1b[2J\\x07\\x9b\\xc2\\x9b\\xff\\x7f é\\r\\n\n' \
        "STAND_IN_MODE=-1 STAND_IN_ERROR=\$'a\\tb\\\\c\\e[2J\\a\\x9b\\xc2\\x9b\\xff\\x7f é\\r\\n' stood_in"
    check 'init gives 1' 1 '' 'SDL initialization failed: odd\n' 'STAND_IN_INIT=1 STAND_IN_ERROR=odd stood_in'
    check 'init fails, empty text' 1 '' 'SDL initialization failed: \n' 'STAND_IN_INIT=-1 stood_in'
    check 'zero and negative size' 0 "$report: 0x-1\nSDL_Quit\n" '' 'STAND_IN_SIZE=0x-1 stood_in'
    check 'extreme size' 0 "$report: -2147483648x2147483647\nSDL_Quit\n" '' \
        'STAND_IN_SIZE=-2147483648x2147483647 stood_in'
    ;;
package)
    cpack --config "$PACKAGE_CONFIG" -B "$tmp/deb" >"$tmp/cpack.log" 2>&1 || cat "$tmp/cpack.log"
    deb=$tmp/deb/display-resolution_${VERSION}_${DEB_ARCH:-$(dpkg --print-architecture)}.deb
    xvfb one 1234x567
    # 32-bit Arm takes integer division and unwinding from libgcc.
    depends='libc6, libsdl2-2.0-0'
    [ "$DEB_ARCH" != armhf ] || depends='libc6, libgcc-s1, libsdl2-2.0-0'
    check 'package fields' 0 "display-resolution\nutils\n$depends\n" '' \
        "for field in Package Section Depends; do dpkg-deb -f $deb \$field; done | sed 's/ ([^)]*)//g'"
    check 'package contents' 0 "./usr/bin/display-resolution\n./usr/share/doc/display-resolution/changelog.gz
./usr/share/doc/display-resolution/copyright\n./usr/share/man/man1/display-resolution.1.gz\n" '' \
        "dpkg-deb -c $deb | awk '!/\/\$/ { print \$6 }'"
    check 'manual page' 0 '' '' "dpkg-deb --fsys-tarfile $deb | tar -xO --wildcards '*.1.gz' | zcat | groff -man -ww -z"
    check 'packaged binary' 0 "$report: 1234x567\n" '' \
        "dpkg-deb -x $deb $tmp/root && DISPLAY=$one TOOL=$tmp/root/usr/bin/display-resolution tool"
    check 'lintian, every tag' 0 '' '' "lintian -I -E --pedantic $deb 2>/dev/null"
    # Hardened as Debian's own tools are. The control-flow marks that
    # hardening-check looks for are dropped by the linker where the C
    # library's start files lack them, and Debian's do (its own ls has none):
    # the protection shows in the code instead.
    hardening=(hardening-check --quiet --nocfprotection)
    ! grep -q nobranchprotection "$(command -v hardening-check)" || hardening+=(--nobranchprotection)
    check 'hardened' 0 '' '' "${hardening[*]} $tmp/root/usr/bin/display-resolution 2>/dev/null"
    # 32-bit Arm and RISC-V have no such protection to give.
    case ${DEB_ARCH:-amd64} in
    amd64) protection=endbr64 ;;
    arm64) protection=paciasp ;;
    *) protection= ;;
    esac
    [ -z "$protection" ] ||
        check "control flow protected: $protection" 0 '' '' "$OBJDUMP -d --disassemble=main $TOOL | grep -q $protection"
    # The same commit built again in another directory packs to the same bytes.
    again=(cmake -S "$SOURCE_DIR" -B "$tmp/again" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DBUILD_TESTING=OFF)
    [ -z "$TOOLCHAIN" ] || again+=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN")
    check 'reproducible' 0 '' '' "${again[*]} >/dev/null && cmake --build $tmp/again >/dev/null &&
        cpack --config $tmp/again/CPackConfig.cmake -B $tmp/again/deb >/dev/null 2>&1 && cmp $deb $tmp/again/deb/${deb##*/}"
    ;;
desktop)
    xvfb one 1234x567
    sway_compositor runtime 1234x567
    session_bus
    check 'desktop x11: idle time kept' 0 "$report: 1234x567\n" '' "DISPLAY=$one idle_kept tool"
    check 'desktop x11: read-only on the bus' 0 "$report: 1234x567\n" '' "DISPLAY=$one read_only_on_bus tool"
    check 'desktop wayland: read-only on the bus' 0 "$report: 1234x567\n" '' \
        "XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1 read_only_on_bus tool"
    ;;
bounded)
    # A wait ends once what it waits for has said nothing for 10 seconds, and
    # a run that is answered, however slowly, after 60 seconds of running;
    # time spent stopped counts for neither. TERM and INT end a run at once.
    # The rows run at once: the group takes as long as the far server.
    silent='SDL initialization failed: The display server did not answer within 10 seconds\n'
    xvfb far 1234x567
    # Far enough for a run to take longer than its 10 seconds of silence:
    # SDL 2 makes about 38 round trips, SDL 3 about 70 once it has its atoms.
    x_proxy far_away "$far" -1 "$(by_sdl 0.4 0.2)"
    x_proxy trickling "$far" -1 1.5
    xvfb hung tcp 1234x567
    kill -STOP "${servers[-1]}"
    x_proxy unaccepted "$far" -1 0 "$tmp/never"
    x_proxy accepted_late "$far" -1 0 "$tmp/accept"
    sway_compositor hung_wayland 1234x567
    kill -STOP "${servers[-1]}"
    sway_compositor healthy 800x600
    xvfb once 1234x567
    once_server=${servers[-1]}
    xvfb unread 1234x567
    xvfb paused 1234x567
    paused_server=${servers[-1]}
    weston_compositor seatless 1234x567
    beside="DISPLAY=$hung XDG_RUNTIME_DIR=$healthy WAYLAND_DISPLAY=wayland-1"
    at_once check 'x11: a live server far away' 0 "$report: 1234x567\n" '' "DISPLAY=$far_away tool" $((60 * pace))
    # A reply every 1.5 seconds, for ever, on a clock that runs five times as
    # fast: 7.5 seconds of running each.
    at_once check 'x11: a server that trickles, at the cap' 1 '' 'SDL initialization failed: Gave up after 60 seconds\n' \
        "DISPLAY=$trickling STAND_IN_TIMER_SPEED=5 stood_in" $cap
    # Only a stop stops the clock; SIGCONT alone does nothing to it.
    at_once check 'x11: server stopped, SIGCONT every 0.2 seconds' 1 '' "$silent" \
        "DISPLAY=$hung \$EMULATOR \$TOOL & while kill -CONT \$! 2>/dev/null; do sleep 0.2; done; wait \$!" $silence
    # Someone else's SIGALRM, and a stop, while connect() waits.
    at_once check 'x11 over tcp: SIGALRM and a stop while the connection is held' 0 "$report: 1234x567\n" '' \
        "DISPLAY=$accepted_late \$EMULATOR \$TOOL & wait_for grep -q wait_woken /proc/\$!/wchan
        kill -ALRM \$!; kill -STOP \$!; sleep 1; kill -CONT \$!; touch $tmp/accept; wait \$!"
    # qemu-user 10 dies itself of a storm of SIGABRT passed on.
    storms=ALRM stormed_lines=$silent
    [ -n "$EMULATOR" ] || storms+=' ABRT' stormed_lines+='SDL initialization failed: Crashed with SIGABRT (aborted)\n'
    at_once check "x11 stopped: a storm of SIG${storms// /, then of SIG}" 1 "$stormed_lines" '' \
        "for signal in $storms; do DISPLAY=$hung stormed \$signal \$EMULATOR \$TOOL 2>&1; done" 15
    # qemu-user renumbers the real-time signals it passes on.
    ended='SDL initialization failed: Ended by SIGUSR1 (user-defined signal 1)\n' signals=USR1
    [ -n "$EMULATOR" ] || ended+='SDL initialization failed: Ended by SIGRTMIN+2 (real-time signal)\n' signals+=' RTMIN+2'
    at_once check "x11 stopped: ${signals// / and } end the run with a line" 1 "$ended" '' \
        "for signal in $signals; do DISPLAY=$hung \$EMULATOR \$TOOL 2>&1 & wait_for grep -q poll /proc/\$!/wchan
            kill -s \$signal \$!; wait \$!; done"
    # The kernel would drop TERM whose action is the default.
    [ -n "$EMULATOR" ] || at_once check 'TERM as the first process of a PID namespace' 143 '' '' \
        "DISPLAY=$hung ${namespace[*]} \$TOOL & wait_for pgrep -P \$! >/dev/null; kill -TERM \$(pgrep -P \$!); wait \$!" 3
    # What the run waits for is named only where it knows: not the server
    # for a name being looked up, nor for an authority file nobody writes or
    # that never ends, while our caller's CPU timers run.
    at_once check 'x11 by name: a lookup slowed by AAAA queries never answered' 0 "$report: 1234x567\n" '' \
        "${by_name[*]} bash -c 'in_named_network 1 \$EMULATOR \$TOOL'"
    at_once check 'x11 by name: a lookup never answered' 1 '' \
        'SDL initialization failed: No available video device (Looking up far.test failed: Temporary failure in name resolution)\n' \
        "${by_name[*]} bash -c 'in_named_network 0 \$EMULATOR \$TOOL'"
    at_once check 'x11: XAUTHORITY a FIFO nobody writes' 1 '' 'SDL initialization failed: Timed out after 10 seconds\n' \
        "mkfifo $tmp/authority && DISPLAY=$far XAUTHORITY=$tmp/authority tool" $silence
    at_once check "x11: XAUTHORITY /dev/zero, the caller's CPU timers armed" 1 '' \
        'SDL initialization failed: Timed out after 10 seconds\n' \
        "DISPLAY=$far XAUTHORITY=/dev/zero nice perl -MTime::HiRes=setitimer,ITIMER_VIRTUAL,ITIMER_PROF \
            -e 'setitimer(ITIMER_VIRTUAL, 0.5); setitimer(ITIMER_PROF, 0.5); exec @ARGV' \$EMULATOR \$TOOL" $silence
    at_once check 'x11: server stopped' 1 '' "$silent" "DISPLAY=$hung tool" $silence
    at_once check 'x11 over tcp: server stopped' 1 '' "$silent" "DISPLAY=127.0.0.1$hung tool" $silence
    at_once check 'x11 over tcp: connection never accepted' 1 '' "$silent" "DISPLAY=$unaccepted tool" $silence
    at_once check 'wayland: compositor stopped' 1 '' "$silent" \
        "XDG_RUNTIME_DIR=$hung_wayland WAYLAND_DISPLAY=wayland-1 tool" $silence
    at_once check 'x11 stopped, wayland beside it: no late answer' 1 '' "$silent" "$beside tool" $silence
    # Its silence begins once the line is out, after the start-up.
    at_once check 'x11: server stopped once the line is out' 0 "$report: 1234x567\n" '' \
        "DISPLAY=$once stop_after_line $once_server STOP \$EMULATOR \$TOOL" $cap
    at_once check 'standard output a full pipe nobody reads' 1 '' \
        'Writing to standard output failed: Timed out after 10 seconds\n' \
        "mkfifo $tmp/full && exec 5<>$tmp/full && head -c 65536 /dev/zero >&5 && DISPLAY=$unread tool >&5" $silence
    # Stopped while it waits for the server's first answer, for longer than
    # the bound, while the server answers.
    at_once check 'a run stopped longer than the bound, then continued' 0 "$report: 1234x567\n" '' \
        "kill -STOP $paused_server; DISPLAY=$paused \$EMULATOR \$TOOL & run=\$!
        wait_for grep -q poll /proc/\$run/wchan; kill -STOP \$run; kill -CONT $paused_server
        sleep 12; kill -CONT \$run; wait \$run" $((20 * pace))
    # env: a background job of a script ignores INT, and so would the tool.
    for signal in TERM INT; do
        at_once check "$signal ends a hung run" 124 '' '' \
            "$beside timeout -s $signal 2 env --default-signal=INT \$EMULATOR \$TOOL" 3
    done
    # SDL 2.26 writes through a null pointer when the compositor offers no seat.
    case $SDL_VERSION in
    2.26.*) no_seat=(1 '' 'SDL initialization failed: Crashed with SIGSEGV (segmentation fault)\n') ;;
    *) no_seat=(0 "$report: 1234x567\n" '') ;;
    esac
    at_once check 'wayland: no seat' "${no_seat[@]}" "XDG_RUNTIME_DIR=$seatless WAYLAND_DISPLAY=wayland-1 tool"
    ;;
quiet)
    # The libraries SDL brings up have their say on standard error: nothing
    # of it on success, and the cause in the one line of a failure.
    xvfb seat_x 1234x567
    weston_compositor weston 1234x567 "$seat_x"
    kwin_compositor kde 1234x567
    sway_compositor sway 1234x567
    # Off the console its cards are not looked for, nor on Wayland the input
    # method's Compose table, for text input we never take, nor libdecor's
    # plugins, for a window we never open; SDL 3 has no say over libdecor.
    # The leak checker cannot work under strace.
    traced="ASAN_OPTIONS=\${ASAN_OPTIONS:-}:detect_leaks=0 strace -f -qq -e trace=open,openat -o $tmp/opened $EMULATOR \$TOOL"
    unread=(-e /sys/class/drm -e /dev/dri)
    check 'x11: nothing read for the console or an input method' 0 "$report: 1234x567\n" '' \
        "DISPLAY=$seat_x $traced && ! grep ${unread[*]} -e /X11/locale/ $tmp/opened >&2"
    unread+=(-e /Compose)
    [ "$(by_sdl 2 3)" = 3 ] || unread+=(-e /libdecor/)
    for compositor in weston kde; do
        check "$compositor: nothing read for the console, text input or decorations" 0 "$report: 1234x567\n" '' \
            "XDG_RUNTIME_DIR=${!compositor} WAYLAND_DISPLAY=wayland-1 $traced && ! grep ${unread[*]} $tmp/opened >&2"
    done
    xvfb locked cookie 1234x567
    check 'x11 without the cookie: the reason given' 1 '' \
        'SDL initialization failed: No available video device (Authorization required, but no authorization protocol specified)\n' \
        "DISPLAY=$locked XAUTHORITY=/dev/null tool"
    long=$(printf 'w%.0s' $(seq 120))
    check 'wayland socket name too long: the reason given' 1 '' \
        "SDL initialization failed: wayland not available (error: socket path \"$tmp/sway/$long\" plus null terminator exceeds 108 bytes)\n" \
        "SDL_VIDEODRIVER=wayland XDG_RUNTIME_DIR=$sway WAYLAND_DISPLAY=$long tool"
    ;;
one-line)
    # Whoever ends the run, Xlib's own exit included, it ends with one line,
    # naming the step under way, with what the libraries said folded in.
    xvfb one 1234x567
    xvfb dying 1234x567
    dying_server=${servers[-1]}
    xvfb locked cookie 1234x567
    # Where the connection breaks is a matter of timing, and with it whether
    # Xlib fails to open the display or exits, and in which words.
    for replies in 0 3 20; do
        x_proxy closing "$one" "$replies"
        check "x11: the connection closed after $replies replies" 0 'SDL initialization failed\n' '' \
            "set -o pipefail; DISPLAY=$closing one_line tool | sed 's/: .*//'"
    done
    check "x11: Xlib's error exit" 0 'SDL initialization failed: X Error of failed request:  BadWindow (invalid Window parameter)\n' '' \
        "DISPLAY=$one.-1 one_line tool"
    check 'x11: the server killed at a random moment, 40 runs' 0 '' '' 'killed_at_random 40'
    check 'x11: the server killed once the line is out' 0 "$report: 1234x567\n" '' \
        "DISPLAY=$dying stop_after_line $dying_server KILL \$EMULATOR \$TOOL"
    forget_x "$dying"
    # Not under the emulator, which keeps a stack of its own, nor under the
    # sanitizers, whose runtime may run out of so small a stack before main.
    [ -n "$EMULATOR${ASAN_OPTIONS:-}" ] || check 'a crash on a small stack, 10 runs' 0 '' '' \
        "for _ in \$(seq 10); do DISPLAY=$one one_line sh -c 'ulimit -s 20 && exec \$TOOL' >/dev/null || exit; done"
    # What SDL and the libraries say is passed on as one harmless line.
    check 'a forged second line' 1 '' \
        'SDL initialization failed: nonsense\\nCurrent Display Resolution: 9999x9999 not available\n' \
        "SDL_VIDEODRIVER=\$'nonsense\\nCurrent Display Resolution: 9999x9999' tool"
    check 'a forged second line after a line separator, and a bidi override' 1 '' \
        'SDL initialization failed: nonsense\\xe2\\x80\\xa8Current Display Resolution: \\xe2\\x80\\xae9999x9999 not available\n' \
        "SDL_VIDEODRIVER=\$'nonsense\\u2028Current Display Resolution: \\u202e9999x9999' tool"
    long=$(printf 'w%.0s' $(seq 120))
    check 'terminal controls in what a library says' 1 '' \
        "SDL initialization failed: wayland not available (error: socket path \"$tmp/\\\\x1b]0;owned\\\\x07\\\\x1b[2J\\\\r$long\" plus null terminator exceeds 108 bytes)\n" \
        "SDL_VIDEODRIVER=wayland WAYLAND_DISPLAY=\$'\\e]0;owned\\a\\e[2J\\r'$long tool"
    long=$(printf 'é%.0s' $(seq 2100))
    check 'a long text cut at a character, with a mark' 0 '1 1 1\né...)\n' '' \
        "SDL_VIDEODRIVER=wayland WAYLAND_DISPLAY=$long tool 2>$tmp/cut; echo \$? \$(wc -l <$tmp/cut) \
            \$((\$(wc -c <$tmp/cut) <= 4096)); iconv -f UTF-8 -t UTF-8 $tmp/cut | tail -c 7"
    # Signals our caller left blocked and pending are none of the run's; the
    # emulator would take them itself.
    pending='perl -e '\''use POSIX; sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM, SIGSEGV));
        kill "ALRM", $$; kill "SEGV", $$; exec @ARGV'\'
    [ -n "$EMULATOR" ] || check 'signals left pending' 0 "$report: 1234x567\n" '' "DISPLAY=$one $pending \$EMULATOR \$TOOL"
    # SDL 2 comes up with its virtual display and is shut down; SDL 3 fails.
    cookie_line='SDL initialization failed: No available video device (Authorization required, but no authorization protocol specified)\n'
    check 'memfd refused: the cause still given' 1 "$(by_sdl 'SDL_Quit\n' '')" "$cookie_line" \
        "DISPLAY=$locked XAUTHORITY=/dev/null STAND_IN_NO_MEMFD=1 stood_in"
    # Sandboxes and limits: no write into the collection ends the run, and
    # none it refuses lets the libraries' text loose. seccomp is not the
    # emulator's to give.
    locked_out="DISPLAY=$locked XAUTHORITY=/dev/null"
    check 'a file-size limit' 0 "$report: 1234x567\n" '' \
        "set -o pipefail; DISPLAY=$one prlimit --fsize=0 \$EMULATOR \$TOOL | cat"
    check 'a file-size limit: the cause still given' 1 "$cookie_line" '' \
        "set -o pipefail; $locked_out prlimit --fsize=0 \$EMULATOR \$TOOL 2>&1 | cat"
    [ -n "$EMULATOR" ] || check 'memfd and O_TMPFILE refused: the cause still given' 1 '' "$cookie_line" \
        "$locked_out \$SANDBOXED \$TOOL"
    # SDL alone, at the fewest descriptors it comes up with: the tool needs
    # two more, and where its own run out, it says so.
    only_standard='perl -e '\''use POSIX; POSIX::close($_) for 3 .. 1023; exec @ARGV'\'
    check 'descriptors: two beyond what SDL alone needs' 0 "$report: 1234x567\n" '' \
        "export DISPLAY=$one; for bare in \$(seq 4 64); do $only_standard prlimit --nofile=\$bare \$EMULATOR \$BARE && break; done
        $only_standard prlimit --nofile=\$((bare + 2)) \$EMULATOR \$TOOL"
    check 'descriptors: too few for the tool' 1 '' 'SDL initialization failed: Too many open files\n' \
        "DISPLAY=$one $only_standard prlimit --nofile=4 \$EMULATOR \$TOOL"
    # A crash inside SDL, whatever its signal: the line naming it, or once
    # the report is out, status 0.
    for crash in TRAP:'trace trap' SYS:'bad system call' XCPU:'CPU time limit exceeded'; do
        check "SIG${crash%%:*} inside SDL_Init and SDL_Quit" 0 \
            "SDL initialization failed: Crashed with SIG${crash%%:*} (${crash#*:})\n1\n$report: 1234x567\nSDL_Quit\n0\n" '' \
            "for call in INIT QUIT; do (export STAND_IN_\${call}_SIGNAL=$(kill -l "${crash%%:*}"); DISPLAY=$one stood_in 2>&1)
                echo \$?; done"
    done
    # Overlong forms of ESC and CSI, a surrogate, and beyond U+10FFFF: each
    # byte escaped, so that a strict decoder takes the line.
    ill_formed=('\xe0\x80\x9b' '\xe0\x82\x9b' '\xed\xa0\x80' '\xf0\x80\x80\x9b' '\xf4\x90\x80\x80')
    check 'ill-formed UTF-8, every byte escaped' 0 \
        "$(printf 'SDL initialization failed: %s not available\\n' "${ill_formed[@]//\\/\\\\}")" '' \
        "for bytes in ${ill_formed[*]@Q}; do SDL_VIDEODRIVER=\$(printf \$bytes) tool 2>&1; done |
            perl -MEncode -e 'local \$/; my \$line = <STDIN>; decode(\"UTF-8\", \$line, Encode::FB_CROAK | Encode::LEAVE_SRC); print \$line'"
    # The descriptor named is none of ours, whatever we have opened by then.
    check 'WAYLAND_SOCKET naming no descriptor' 1 '' \
        'SDL initialization failed: No available video device (DISPLAY unset, WAYLAND_DISPLAY unset, no DRM card with a connected output)\n' \
        'WAYLAND_SOCKET=3 tool 3<&-'
    check "SDL's own early warnings" 0 "$report: 1234x567\n" '' "DISPLAY=$one SDL_DYNAMIC_API=/nonexistent tool"
    check 'the reader gone: SIGPIPE, nothing written' 0 '141\n' '' \
        "{ sleep 0.5; DISPLAY=$one tool; echo \$? >$tmp/piped; } | true; cat $tmp/piped"
    # As the first process of a PID namespace the tool cannot die by its own
    # SIGPIPE, and the write fails instead; the emulator would hang there.
    [ -n "$EMULATOR" ] || check 'the reader gone, as PID 1' 0 '1\n' 'Writing to standard output failed: Broken pipe\n' \
        "{ sleep 0.5; DISPLAY=$one ${namespace[*]} \$TOOL; echo \$? >$tmp/pid1; } | true; cat $tmp/pid1"
    ;;
desktops)
    # The compositors desktop users run, in a desktop session: each run gives
    # the one line, and nothing on standard error.
    session_bus
    mutter_compositor gnome 2560x1440 1920x1080
    kwin_compositor kde 1920x1080 2
    xvfb seat_x 1234x567
    weston_compositor seated 1234x567 "$seat_x"
    weston_compositor seatless 1234x567
    sway_compositor sway 1234x567
    # twenty SIZE COMMAND: a row that runs COMMAND 20 times.
    twenty() {
        at_once check "$1, 20 runs" 0 "$(printf "$report: $2\\\\n%.0s" $(seq 20))" '' \
            "for _ in \$(seq 20); do $3 tool || exit; done"
    }
    native() { echo "XDG_RUNTIME_DIR=${!1} WAYLAND_DISPLAY=wayland-1"; }
    # KDE's session has no mutter on its bus for SDL 3 to ask.
    kde="DBUS_SESSION_BUS_ADDRESS=disabled: $(native kde)"
    twenty 'gnome' 2560x1440 "$(native gnome)"
    twenty 'gnome, xwayland' 2560x1440 "$gnome_x11"
    twenty 'kde' 1920x1080 "$kde"
    twenty 'kde, xwayland' 1920x1080 "$kde_x11"
    twenty 'weston with a keyboard' 1234x567 "$(native seated)"
    # The XWayland of Debian 12 makes its modes 8 pixels wide at a time.
    case $SDL_VERSION in
    2.26.*) twenty 'weston with a keyboard, xwayland' 1232x567 "$seated_x11" ;;
    *) twenty 'weston with a keyboard, xwayland' 1234x567 "$seated_x11" ;;
    esac
    [[ $SDL_VERSION == 2.26.* ]] || twenty 'weston with no seat' 1234x567 "$(native seatless)"
    twenty 'sway' 1234x567 "$(native sway)"
    [ ${#rows[@]} = 0 ] || wait "${rows[@]}"
    rows=()
    # Display 0 with GNOME's primary monitor the smaller one, below the
    # larger: SDL 3 asks GNOME, SDL 2 takes the first monitor on Wayland.
    mutter_layout Meta-0:2560x1440@60.000:0:0:1.0 Meta-1:1920x1080@60.000:0:1440:1.0:primary
    primary=$(by_sdl 2560x1440 1920x1080)
    check 'gnome: the smaller monitor primary' 0 "$report: $primary\n" '' "$(native gnome) read_only_on_bus tool"
    check 'gnome: the smaller monitor primary, xwayland' 0 "$report: 1920x1080\n" '' "$gnome_x11 tool"
    # At scale 2 SDL 2 gives the logical size on Wayland. The primary on the
    # right, so that it sits in the same place whether mutter lays monitors
    # out in logical or in physical pixels.
    mutter_layout Meta-1:1920x1080@60.000:0:0:1.0 Meta-0:2560x1440@60.000:1920:0:2.0:primary
    scaled=$(by_sdl 1280x720 2560x1440)
    check 'gnome: scale 2' 0 "$report: $scaled\n" '' "$(native gnome) tool"
    check 'gnome: scale 2, xwayland' 0 "$report: 2560x1440\n" '' "$gnome_x11 tool"
    # KDE's outputs: the second turned 90 degrees and made primary; then the
    # first, primary again, at scale 2 and 1.5.
    kwin_layout "$tmp/kde" output.Virtual-1.rotation.left output.Virtual-1.priority.1
    check 'kde: the second output primary, turned' 0 "$report: 1920x1080\n" '' "$kde tool"
    primary=$(by_sdl 1080x1920 1920x1080)
    check 'kde: the second output primary, turned, xwayland' 0 "$report: $primary\n" '' "$kde_x11 tool"
    # Through XWayland, kwin 5.27 (Debian 12) shows the logical size too.
    for scaled in 2:960x540 1.5:1280x720; do
        kwin_layout "$tmp/kde" output.Virtual-1.rotation.normal output.Virtual-0.priority.1 \
            "output.Virtual-0.scale.${scaled%:*}"
        case $SDL_VERSION in
        2.26.*) through_x11=${scaled#*:} ;;
        *) through_x11=1920x1080 ;;
        esac
        scaled=${scaled%:*}:$(by_sdl "${scaled#*:}" 1920x1080)
        check "kde: scale ${scaled%:*}" 0 "$report: ${scaled#*:}\n" '' "$kde tool"
        check "kde: scale ${scaled%:*}, xwayland" 0 "$report: $through_x11\n" '' "$kde_x11 tool"
    done
    ;;
console)
    # A Linux console: Debian's kernel under qemu, the tool in a small
    # initramfs, each case's result read from the serial line. Display 0 is
    # the screen's current mode, not its preferred one, on the lowest-numbered
    # card that has a connected output; the keyboard and the terminal stay as
    # they were.
    arch=${DEB_ARCH:-$(dpkg --print-architecture)}
    console_guest "$arch" "$TOOL" "$PROBE"
    # Linux needs no option ROM, which not every qemu-system package brings.
    virtio=virtio-gpu-pci,xres=1280,yres=800 bochs=bochs-display,xres=1600,yres=900,romfile=
    [ "$arch" != amd64 ] || bochs=VGA,xres=1600,yres=900
    console_boot screen "$arch" "$bochs" video=Virtual-1:1024x768
    # Both adapters, either module first: after a card that only renders,
    # bochs (1600x900) is card1 and virtio (1280x800) card2; loaded last,
    # bochs is card1 after virtio's card0.
    console_boot bochs_first "$arch" "$bochs $virtio" cases=cards cards=3 off=card1 vgem
    console_boot virtio_first "$arch" "$bochs $virtio" cases=cards cards=2 off=card0 bochs-last
    wait "$screen" "$bochs_first" "$virtio_first"
    # Each case: its status, standard output and error, then the terminal
    # before, while the tool was held at its write (with a switch to the
    # second terminal) and after.
    kept='unicode auto 1 / unicode auto 1' switched='unicode auto 1 / unicode auto 2 / unicode auto 1'
    while IFS=';' read -r boot name expected; do
        check "console, $boot: $name" 0 "$expected\n" '' "sed -n 's/^$name: //p' $tmp/$boot.log | tr -d '\r'"
    done <<ROWS
screen;mode;0|$report: 1024x768||$kept
screen;kmsdrm;0|$report: 1024x768||$kept
screen;TERM;143||$switched
screen;INT;130||$switched
screen;HUP;129||$switched
screen;SEGV;1|Writing to standard output failed: Crashed with SIGSEGV (segmentation fault)|$switched
screen;deadline;1|Writing to standard output failed: Timed out after 10 seconds|$switched
screen;keys;abc
screen;xlate;0|$report: 1024x768||xlate auto 1 / xlate auto 1
screen;xlate TERM;143||xlate auto 1 / xlate auto 2 / xlate auto 1
screen;session leader TERM;143||$switched
screen;another master;0|$report: 800x600||$kept
screen;master after;modetest
screen;unprivileged;1||SDL initialization failed: No available video device (DISPLAY unset, WAYLAND_DISPLAY unset, /dev/dri/card0: Permission denied)|$kept
screen;stale display;0|$report: 1024x768||$kept
screen;x11 asked for;1||SDL initialization failed: x11 not available|$kept
bochs_first;mode;0|$report: 1600x900||$kept
bochs_first;card1 off;0|$report: 1280x800||$kept
bochs_first;card1 off, empty index;0|$report: 1280x800||$kept
bochs_first;index 0;1||SDL initialization failed: SDL_KMSDRM_DEVICE_INDEX names card0, which has no connected output|$kept
bochs_first;index 1;1||SDL initialization failed: SDL_KMSDRM_DEVICE_INDEX names card1, which has no connected output|$kept
bochs_first;index 2;0|$report: 1280x800||$kept
virtio_first;mode;0|$report: 1280x800||$kept
virtio_first;card0 off;0|$report: 1600x900||$kept
virtio_first;card0 off, empty index;0|$report: 1600x900||$kept
virtio_first;index 0;1||SDL initialization failed: SDL_KMSDRM_DEVICE_INDEX names card0, which has no connected output|$kept
virtio_first;index 1;0|$report: 1600x900||$kept
ROWS
    ;;
*)
    echo "usage: run.sh x11|wayland|desktop|multi-output|no-display|streams|stand-in|package|bounded|quiet|one-line|desktops" >&2
    exit 2
    ;;
esac
[ ${#rows[@]} = 0 ] || wait "${rows[@]}"
passed=$(grep -c '^ok' "$tmp/results") failed=$(grep -c '^FAILED' "$tmp/results")
echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" != 0 ]
