#!/usr/bin/env bash
# Output and exit status: the report, or one error line naming the step with
# SDL's text and the libraries' words as the cause; nothing else.
. "$(dirname "$0")/lib.sh"
xvfb one 1234x567
check 'one screen' 0 "$report: 1234x567\n" '' -- DISPLAY=$one tool
check 'arguments change nothing' 0 "$report: 1234x567\n" '' -- \
    DISPLAY=$one tool -h --help --version '' 'two words' %s%n 0 -- -
# With no display system to reach, what the run had to try is the cause.
drm=
! grep -qsx connected /sys/class/drm/card*-*/status || drm='this machine has a screen on a DRM card'
none='SDL initialization failed: No available video device (DISPLAY unset, WAYLAND_DISPLAY unset, no DRM card with a connected output)\n'
check -s "$drm" 'no display' 1 '' "$none" -- tool
check -s "$drm" 'no display, with arguments' 1 '' "$none" -- tool --help x
check -s "$drm" 'a stale DISPLAY' 1 '' "${none/DISPLAY unset/DISPLAY=:99}" -- DISPLAY=:99 tool
# libwayland would add a line of its own about the missing directory.
check -s "$drm" 'no display, no runtime directory' 1 '' "$none" -- env -u XDG_RUNTIME_DIR bash -c tool
# The descriptor named is none of ours, whatever we have opened by then.
check -s "$drm" 'WAYLAND_SOCKET naming no descriptor' 1 '' "$none" -- WAYLAND_SOCKET=3 redirected '3<&-' tool
check 'wayland asked for, no runtime directory' 1 '' 'SDL initialization failed: wayland not available\n' -- \
    SDL_VIDEODRIVER=wayland env -u XDG_RUNTIME_DIR bash -c tool
check 'x11 asked for, no display' 1 '' 'SDL initialization failed: x11 not available\n' -- SDL_VIDEODRIVER=x11 tool
check 'offscreen asked for' 0 "$report: 1024x768\n" '' -- SDL_VIDEODRIVER=offscreen tool
check 'dummy asked for' 0 "$report: 1024x768\n" '' -- SDL_VIDEODRIVER=dummy tool
check 'stdout full' 1 '' 'Writing to standard output failed: No space left on device\n' -- \
    DISPLAY=$one redirected '>/dev/full' tool
check 'stdout closed' 1 '' 'Writing to standard output failed: Bad file descriptor\n' -- DISPLAY=$one redirected '>&-' tool
# What SDL can't be made to do; the stand-in writes SDL_Quit when it is
# called, and with standard error there too, the order shows.
export SDL_VIDEODRIVER=offscreen
check 'query fails' 1 'SDL_GetCurrentDisplayMode failed: no mode\nSDL_Quit\n' '' -- \
    STAND_IN_MODE=-1 STAND_IN_ERROR='no mode' redirected '2>&1' stood_in
check 'query fails, empty text' 1 'SDL_GetCurrentDisplayMode failed: \nSDL_Quit\n' '' -- \
    STAND_IN_MODE=-1 redirected '2>&1' stood_in
check 'query gives 1' 1 'SDL_GetCurrentDisplayMode failed: odd\nSDL_Quit\n' '' -- \
    STAND_IN_MODE=1 STAND_IN_ERROR=odd redirected '2>&1' stood_in
check 'init gives 1' 1 '' 'SDL initialization failed: odd\n' -- STAND_IN_INIT=1 STAND_IN_ERROR=odd stood_in
check 'init fails, empty text' 1 '' 'SDL initialization failed: \n' -- STAND_IN_INIT=-1 stood_in
check 'zero and negative size' 0 "$report: 0x-1\nSDL_Quit\n" '' -- STAND_IN_SIZE=0x-1 stood_in
check 'extreme size' 0 "$report: -2147483648x2147483647\nSDL_Quit\n" '' -- STAND_IN_SIZE=-2147483648x2147483647 stood_in
unset SDL_VIDEODRIVER
# What SDL and the libraries say is passed on as one harmless line.
check 'a forged second line' 1 '' \
    'SDL initialization failed: nonsense\\nCurrent Display Resolution: 9999x9999 not available\n' -- \
    SDL_VIDEODRIVER=$'nonsense\nCurrent Display Resolution: 9999x9999' tool
check "SDL's own early warnings" 0 "$report: 1234x567\n" '' -- DISPLAY=$one SDL_DYNAMIC_API=/nonexistent tool
xvfb locked cookie 1234x567
check 'x11 without the cookie: the reason given' 1 '' \
    'SDL initialization failed: No available video device (Authorization required, but no authorization protocol specified)\n' -- \
    DISPLAY=$locked XAUTHORITY=/dev/null tool
sway_compositor sway 1234x567
long=$(printf 'w%.0s' $(seq 120))
check 'wayland socket name too long: the reason given' 1 '' \
    "SDL initialization failed: wayland not available (error: socket path \"$sway/$long\" plus null terminator exceeds 108 bytes)\n" -- \
    SDL_VIDEODRIVER=wayland XDG_RUNTIME_DIR=$sway WAYLAND_DISPLAY=$long tool
finish
