#!/usr/bin/env bash
# Nothing is changed: the X idle time, the session bus, nothing left running,
# no file read it has no use for (the console's keyboard: display.sh).
. "$(dirname "$0")/lib.sh"
xvfb one 1234x567
sway_compositor runtime 1234x567
# With no bus the library would autolaunch one, to outlive the run.
check 'no session bus, nothing left running' 0 "$report: 1234x567\n" '' -- DISPLAY=$one \
    bash -c 'env -u DBUS_SESSION_BUS_ADDRESS RUN_MARK=$tmp $EMULATOR $TOOL && ! grep -las RUN_MARK=$tmp /proc/[0-9]*/environ'
# Not the console's cards, an input method's locale or Compose table, nor
# libdecor's plugins (SDL 3 has no say there). No leak checks under strace.
xvfb seat_x 1234x567
weston_compositor weston 1234x567 "$seat_x"
kwin_compositor kde 1234x567
traced=(env ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 strace -f -qq -e trace=open,openat -o "$tmp/opened" $EMULATOR "$TOOL")
check 'x11: nothing read for the console or an input method' 0 "$report: 1234x567\n" '' -- DISPLAY=$seat_x \
    bash -c '"$@" && ! grep -e /sys/class/drm -e /dev/dri -e /X11/locale/ "$tmp/opened" >&2' - "${traced[@]}"
unread=(-e /sys/class/drm -e /dev/dri -e /Compose)
[ "$(by_sdl 2 3)" = 3 ] || unread+=(-e /libdecor/)
for compositor in weston kde; do
    check "$compositor: nothing read for the console, text input or decorations" 0 "$report: 1234x567\n" '' -- \
        XDG_RUNTIME_DIR=${!compositor} WAYLAND_DISPLAY=wayland-1 \
        bash -c '"${@:2}" && ! grep $1 "$tmp/opened" >&2' - "${unread[*]}" "${traced[@]}"
done
session_bus
check 'desktop x11: idle time kept' 0 "$report: 1234x567\n" '' -- DISPLAY=$one bash -c \
    'until [ "$(xprintidle)" -gt 1000 ]; do sleep 0.2; done; idle=$(xprintidle); tool && [ "$(xprintidle)" -ge $idle ]'
check 'desktop x11: read-only on the bus' 0 "$report: 1234x567\n" '' -- DISPLAY=$one read_only_on_bus tool
check 'desktop wayland: read-only on the bus' 0 "$report: 1234x567\n" '' -- \
    XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1 read_only_on_bus tool
finish
