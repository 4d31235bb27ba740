#!/usr/bin/env bash
# Which display: display 0 by display system, desktop, scale and path; on the
# console, the first card's connected output, the keyboard left as it was.
. "$(dirname "$0")/lib.sh"
xvfb two 1366x701 640x480
check 'two screens: only the first' 0 "$report: 1366x701\n" '' -- DISPLAY=$two tool
sway_compositor runtime 1234x567
check 'wayland' 0 "$report: 1234x567\n" '' -- XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1 tool
check 'wayland, socket by path' 0 "$report: 1234x567\n" '' -- env -u XDG_RUNTIME_DIR WAYLAND_DISPLAY=$runtime/wayland-1 bash -c tool
# One X screen over two monitors; each row starts from xorg's layout.
xorg x
layout='xrandr --output DUMMY0 --mode 1024x768 --pos 0x0 --output DUMMY1 --mode 800x600 --pos 1024x0'
check 'x11: the primary output, right of another' 0 "$report: 800x600\n" '' -- DISPLAY=$x bash -c "$layout --primary && tool"
check 'x11: no primary, the first output in RandR order' 0 "$report: 1024x768\n" '' -- \
    DISPLAY=$x bash -c "$layout --pos 0x0 --noprimary --output DUMMY0 --pos 800x0 && tool"
check 'x11: a mode change, seen by the next run' 0 "$report: 1024x768\n$report: 640x480\n" '' -- \
    DISPLAY=$x bash -c "$layout --output DUMMY0 --primary && tool && xrandr --output DUMMY0 --mode 640x480 && tool"
check 'x11: the primary output switched off' 0 "$report: 800x600\n" '' -- \
    DISPLAY=$x bash -c "$layout --output DUMMY0 --primary && xrandr --output DUMMY0 --off && tool"
# SDL 2.26 finds no display, later ones the X screen shrunk to its least; a
# card named for the console takes no blame.
off=(0 "$report: 64x64\n" '')
[[ $SDL_VERSION != 2.26.* ]] || off=(1 '' 'SDL initialization failed: No available displays\n')
for index in '' 0; do
    check "x11: every output switched off${index:+, SDL_KMSDRM_DEVICE_INDEX left set}" "${off[@]}" -- \
        DISPLAY=$x ${index:+SDL_KMSDRM_DEVICE_INDEX=$index} \
        bash -c "$layout && xrandr --output DUMMY0 --off --output DUMMY1 --off && tool"
done
on_wayland=(XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1)
check 'wayland: an output turned 90 degrees' 0 "$report: 567x1234\n" '' -- \
    "${on_wayland[@]}" bash -c 'swaymsg output HEADLESS-1 transform 90 >/dev/null && tool'
# SDL 2 reports a scaled output's logical size; SDL 3 its size in pixels.
check 'wayland: an output at scale 2' 0 "$report: $(by_sdl 1280x720 2560x1440)\n" '' -- "${on_wayland[@]}" \
    bash -c 'swaymsg output HEADLESS-1 mode 2560x1440 scale 2 transform normal >/dev/null && tool'
check 'wayland: an output at scale 1.5' 0 "$report: $(by_sdl 1706x960 2560x1440)\n" '' -- \
    "${on_wayland[@]}" bash -c 'swaymsg output HEADLESS-1 scale 1.5 >/dev/null && tool'
# A second output, added later, leftmost and focused.
swaymsg output HEADLESS-1 mode 1234x567 scale 1 pos 800 0 >/dev/null && swaymsg create_output >/dev/null &&
    swaymsg output HEADLESS-2 mode 800x600 pos 0 0 >/dev/null || broken "sway did not add a second output"
check 'wayland: two outputs' 0 "$report: 1234x567\n" '' -- "${on_wayland[@]}" tool
# The desktops' compositors, in a desktop session: the one line each time.
session_bus
mutter_compositor gnome 2560x1440 1920x1080
kwin_compositor kde 1920x1080 2
xvfb seat_x 1234x567
weston_compositor seated 1234x567 "$seat_x"
weston_compositor seatless 1234x567
sway_compositor sway 1234x567
# twenty NAME SIZE VAR=VALUE...: a row that runs the tool 20 times.
twenty() {
    at_once check "$1, 20 runs" 0 "$(printf "$report: $2\\\\n%.0s" $(seq 20))" '' -- \
        "${@:3}" bash -c 'for _ in $(seq 20); do tool || exit; done'
}
native() { echo "XDG_RUNTIME_DIR=${!1} WAYLAND_DISPLAY=wayland-1"; }
# KDE's session has no mutter on its bus for SDL 3 to ask.
kde="DBUS_SESSION_BUS_ADDRESS=disabled: $(native kde)"
twenty 'gnome' 2560x1440 $(native gnome)
twenty 'gnome, xwayland' 2560x1440 $gnome_x11
twenty 'kde' 1920x1080 $kde
twenty 'kde, xwayland' 1920x1080 $kde_x11
twenty 'weston with a keyboard' 1234x567 $(native seated)
# The XWayland of Debian 12 makes its modes 8 pixels wide at a time.
twenty 'weston with a keyboard, xwayland' "$([[ $SDL_VERSION == 2.26.* ]] && echo 1232x567 || echo 1234x567)" $seated_x11
[[ $SDL_VERSION == 2.26.* ]] || twenty 'weston with no seat' 1234x567 $(native seatless)
twenty 'sway' 1234x567 $(native sway)
[ ${#rows[@]} = 0 ] || wait "${rows[@]}"
rows=()
# GNOME's primary the smaller, below: SDL 3 asks GNOME, SDL 2 takes the first.
mutter_layout Meta-0:2560x1440@60.000:0:0:1.0 Meta-1:1920x1080@60.000:0:1440:1.0:primary
check 'gnome: the smaller monitor primary' 0 "$report: $(by_sdl 2560x1440 1920x1080)\n" '' -- \
    $(native gnome) read_only_on_bus tool
check 'gnome: the smaller monitor primary, xwayland' 0 "$report: 1920x1080\n" '' -- $gnome_x11 tool
# Scale 2, the primary on the right, where logical and physical layouts agree.
mutter_layout Meta-1:1920x1080@60.000:0:0:1.0 Meta-0:2560x1440@60.000:1920:0:2.0:primary
check 'gnome: scale 2' 0 "$report: $(by_sdl 1280x720 2560x1440)\n" '' -- $(native gnome) tool
check 'gnome: scale 2, xwayland' 0 "$report: 2560x1440\n" '' -- $gnome_x11 tool
# KDE's second output turned and primary; then the first at scale 2 and 1.5.
kwin_layout "$tmp/kde" output.Virtual-1.rotation.left output.Virtual-1.priority.1
check 'kde: the second output primary, turned' 0 "$report: 1920x1080\n" '' -- $kde tool
check 'kde: the second output primary, turned, xwayland' 0 "$report: $(by_sdl 1080x1920 1920x1080)\n" '' -- $kde_x11 tool
# Through XWayland, kwin 5.27 (Debian 12) gives the logical size too.
for scaled in 2:960x540 1.5:1280x720; do
    kwin_layout "$tmp/kde" output.Virtual-1.rotation.normal output.Virtual-0.priority.1 "output.Virtual-0.scale.${scaled%:*}"
    through_x11=1920x1080 && [[ $SDL_VERSION != 2.26.* ]] || through_x11=${scaled#*:}
    check "kde: scale ${scaled%:*}" 0 "$report: $(by_sdl "${scaled#*:}" 1920x1080)\n" '' -- $kde tool
    check "kde: scale ${scaled%:*}, xwayland" 0 "$report: $through_x11\n" '' -- $kde_x11 tool
done
# A card number too large for a long: where it has 64 bits SDL passes it
# over; with 32 it takes the largest int, and the tool names it as written.
out_of_range='kmsdrm not available'
[ "$(od -An -tx1 -j4 -N1 "$TOOL")" != ' 01' ] ||
    out_of_range='SDL_KMSDRM_DEVICE_INDEX names card99999999999999999999, which has no connected output'
check 'kmsdrm asked for, SDL_KMSDRM_DEVICE_INDEX out of range' 1 '' "SDL initialization failed: $out_of_range\n" -- \
    SDL_VIDEODRIVER=kmsdrm SDL_KMSDRM_DEVICE_INDEX=99999999999999999999 tool
# The console: Debian's kernel under qemu, each case read from the serial
# line; the guests boot only where a console row is to run.
console=${ASAN_OPTIONS:+the console guest holds no sanitizer runtime}
if [ -z "$console" ] && [[ -z $only || $only == console* ]]; then
    arch=${DEB_ARCH:-$(dpkg --print-architecture)}
    console_guest "$arch" "$TOOL" "$PROBE"
    # Linux needs no option ROM, which not every qemu-system package brings.
    virtio=virtio-gpu-pci,xres=1280,yres=800 bochs=bochs-display,xres=1600,yres=900,romfile=
    [ "$arch" != amd64 ] || bochs=VGA,xres=1600,yres=900
    console_boot screen "$arch" "$bochs" video=Virtual-1:1024x768
    # Both adapters, either first: bochs (1600x900) card1 and virtio
    # (1280x800) card2 after a card that only renders; or virtio card0.
    console_boot bochs_first "$arch" "$bochs $virtio" cases=cards cards=3 off=card1 vgem
    console_boot virtio_first "$arch" "$bochs $virtio" cases=cards cards=2 off=card0 bochs-last
    wait "$screen" "$bochs_first" "$virtio_first"
fi
# Each case: status, output, error, and the terminal before, while held at
# the write (switched to the second terminal and back) and after.
kept='unicode auto 1 / unicode auto 1' switched='unicode auto 1 / unicode auto 2 / unicode auto 1'
while IFS=';' read -r boot name expected; do
    check -s "$console" "console, $boot: $name" 0 "$expected\n" '' -- \
        bash -c "sed -n 's/^$name: //p' $tmp/$boot.log | tr -d '\r'"
done <<ROWS
screen;mode;0|$report: 1024x768||$kept
screen;kmsdrm;0|$report: 1024x768||$kept
screen;TERM;143||$switched
screen;INT;130||$switched
screen;HUP;129||$switched
screen;SEGV;1|Writing to standard output failed: Crashed with SIGSEGV (segmentation fault)|$switched
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
bochs_first;deadline;1|Writing to standard output failed: Timed out after 10 seconds|$switched
virtio_first;mode;0|$report: 1280x800||$kept
virtio_first;card0 off;0|$report: 1600x900||$kept
virtio_first;card0 off, empty index;0|$report: 1600x900||$kept
virtio_first;index 0;1||SDL initialization failed: SDL_KMSDRM_DEVICE_INDEX names card0, which has no connected output|$kept
virtio_first;index 1;0|$report: 1600x900||$kept
virtio_first;deadline;1|Writing to standard output failed: Timed out after 10 seconds|$switched
ROWS
finish
