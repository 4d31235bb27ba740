#!/bin/busybox sh
# The first process of the small Linux guest the console tests boot: loads
# the modules listed in /modules, then runs the tool on the console's first
# virtual terminal, its controlling terminal, and prints each case's result
# on the serial line as "NAME: RESULT"; then powers off. On the kernel command
# line, "vgem" puts a device that only renders first, "bochs-last" loads the
# bochs adapter's module after virtio's, and "cards=N" waits for N cards.
# "cases=mode" runs only the first case; "cases=cards off=CARD" the first,
# then again with CARD's outputs forced off, and with SDL_KMSDRM_DEVICE_INDEX
# naming each card.
if [ "$1" != cases ]; then
    /bin/busybox --install -s /bin
    mount -t proc proc /proc
    mount -t sysfs sys /sys
    mount -t devtmpfs dev /dev
    mount -t debugfs debug /sys/kernel/debug
    mount -t tmpfs tmp /tmp
    order=$(cat /modules)
    ! grep -qw bochs-last /proc/cmdline || order="$(grep -v /bochs.ko /modules) $(grep /bochs.ko /modules)"
    for module in $order; do
        [ "${module##*/}" != vgem.ko ] || grep -qw vgem /proc/cmdline && insmod "$module"
    done
    cards=$(sed -n 's/.*cards=\([0-9]*\).*/\1/p' /proc/cmdline)
    for _ in $(seq 100); do [ -e "/dev/dri/card$((${cards:-1} - 1))" ] && break; sleep 0.1; done
    echo 'nobody:x:65534:65534::/:/bin/sh' >/etc/passwd
    setsid -c /init cases </dev/tty1 >/dev/console 2>&1
    poweroff -f
fi
# Job control, so that a job in the background takes INT as usual.
set -m
tool=/display-resolution
tty=$(tty)
probe() { /console-probe "$tty" "$@"; }

# run NAME COMMAND...: runs COMMAND; NAME: its status, standard output and
# error, and how the terminal was before and after.
run() {
    name=$1
    shift
    before=$(probe)
    "$@" >/tmp/out 2>/tmp/err
    echo "$name: $?|$(cat /tmp/out)|$(cat /tmp/err)|$before / $(probe)"
}
# held NAME SIGNAL [COMMAND...]: runs COMMAND (the tool) with its standard
# output a full pipe, which holds it at its write once SDL is up, switches to
# the second terminal and back meanwhile, then sends it SIGNAL (none: waits
# for its deadline). NAME: its status, standard error, and the terminal
# before, during and after.
held() {
    name=$1 signal=$2
    shift 2
    rm -f /tmp/held && mkfifo /tmp/held && exec 5<>/tmp/held && head -c 65536 /dev/zero >&5
    before=$(probe)
    "${@:-$tool}" >&5 2>/tmp/err &
    pid=$!
    for _ in $(seq 300); do
        grep -qs pipe_write /proc/$pid/wchan && break
        kill -0 $pid 2>/dev/null && sleep 0.1 || break
    done
    timeout 5 chvt 2
    during=$(probe)
    timeout 5 chvt 1
    [ "$signal" = none ] || kill -"$signal" $pid
    wait $pid
    echo "$name: $?|$(cat /tmp/err)|$before / $during / $(probe)"
    exec 5>&-
}

run mode $tool
grep -q cases=mode /proc/cmdline && exit
if grep -q cases=cards /proc/cmdline; then
    off=$(sed -n 's/.*off=\(card[0-9]*\).*/\1/p' /proc/cmdline)
    for status in /sys/class/drm/"$off"-*/status; do echo off >"$status"; done
    run "$off off" $tool
    # An empty index, which SDL passes over, changes nothing.
    run "$off off, empty index" env SDL_KMSDRM_DEVICE_INDEX= $tool
    for card in /dev/dri/card*; do run "index ${card#/dev/dri/card}" env SDL_KMSDRM_DEVICE_INDEX="${card#/dev/dri/card}" $tool; done
    exit
fi
run kmsdrm env SDL_VIDEODRIVER=kmsdrm $tool
# Variables left over from a desktop change nothing here.
run 'stale display' env DISPLAY=:9 WAYLAND_DISPLAY=wayland-9 XDG_RUNTIME_DIR=/tmp $tool
run 'x11 asked for' env SDL_VIDEODRIVER=x11 $tool
for signal in TERM INT HUP SEGV; do held "$signal" $signal; done
# Keys typed once a run has ended reach the shell.
echo 'keys?'
read -r -t 60 typed
echo "keys: $typed"
probe xlate >/dev/null
run xlate $tool && held 'xlate TERM' TERM
probe unicode >/dev/null
# Another program holding the display, as a compositor on another terminal
# would, at a mode of its own.
mkfifo /tmp/hold && exec 6<>/tmp/hold
/modetest -M "$(cut -d" " -f1 /sys/kernel/debug/dri/0/name)" -s Virtual-1:800x600 <&6 >/tmp/modetest 2>&1 &
for _ in $(seq 100); do grep -q 'setting mode' /tmp/modetest && break; sleep 0.1; done
run 'another master' $tool
echo "master after: $(awk '$4 == "y" { print $1 }' /sys/kernel/debug/dri/0/clients)"
kill %%
run unprivileged su -s $tool nobody
# A tool that leads the session of its terminal may not let go of it; here
# the second, the tool's own. SDL leaves its switching alone all the same, as
# it finds no signal free to take it with. Without job control setsid need
# not fork.
set +m
tty=/dev/tty2
held 'session leader TERM' TERM sh -c "exec setsid -c $tool </dev/tty2"
tty=/dev/tty1
set -m
timeout 5 chvt 1
held deadline none
