#!/bin/busybox sh
# The console guest's first process: loads /modules, runs each case on the
# first virtual terminal, prints "NAME: RESULT" on the serial line, and powers
# off. Its command line's "vgem" puts a render-only device first, "bochs-last"
# loads bochs after virtio, "cards=N" waits for N cards; "cases=cards
# off=CARD" runs the first case, then with CARD's outputs off, with
# SDL_KMSDRM_DEVICE_INDEX naming each card, and held to its deadline.
if [ "$1" != cases ]; then
    /bin/busybox --install -s /bin
    mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev
    mount -t debugfs debug /sys/kernel/debug && mount -t tmpfs tmp /tmp
    order=$(cat /modules)
    ! grep -qw bochs-last /proc/cmdline || order="$(grep -v /bochs.ko /modules) $(grep /bochs.ko /modules)"
    for module in $order; do
        [ "${module##*/}" != vgem.ko ] || grep -qw vgem /proc/cmdline && insmod "$module"
    done
    cards=$(sed -n 's/.*cards=\([0-9]*\).*/\1/p' /proc/cmdline)
    for _ in $(seq 100); do [ -e "/dev/dri/card$((${cards:-1} - 1))" ] && break; sleep 0.1; done
    echo 'nobody:x:65534:65534::/:/bin/sh' >/etc/passwd
    setsid -c /init cases </dev/tty1 >/dev/console 2>&1
    # Setting its modes waits for the line to send all, or the kernel's last words cut in.
    stty -F /dev/console "$(stty -F /dev/console -g)"
    poweroff -f
fi
# Job control, so that a job in the background takes INT as usual.
set -m
tool=/display-resolution tty=$(tty)
probe() { /console-probe "$tty" "$@"; }
# run NAME COMMAND...: prints NAME: COMMAND's status, output, error, and the
# terminal before and after.
run() {
    name=$1 before=$(probe) && shift
    "$@" >/tmp/out 2>/tmp/err
    echo "$name: $?|$(cat /tmp/out)|$(cat /tmp/err)|$before / $(probe)"
}
# held NAME SIGNAL [COMMAND...]: runs COMMAND (the tool) with its output a
# full pipe, which holds it at its write with SDL up, switches to the second
# terminal and back, then sends it SIGNAL (none: waits for its deadline);
# prints NAME: its status, error, and the terminal before, during and after.
held() {
    rm -f /tmp/held && mkfifo /tmp/held && exec 5<>/tmp/held && head -c 65536 /dev/zero >&5
    name=$1 signal=$2 before=$(probe) && shift 2
    "$@" >&5 2>/tmp/err &
    pid=$!
    for _ in $(seq 300); do
        grep -qs pipe_write /proc/$pid/wchan && break
        kill -0 $pid 2>/dev/null && sleep 0.1 || break
    done
    timeout 5 chvt 2; during=$(probe); timeout 5 chvt 1
    [ "$signal" = none ] || kill -"$signal" $pid
    wait $pid
    echo "$name: $?|$(cat /tmp/err)|$before / $during / $(probe)"
    exec 5>&-
}

run mode $tool
if grep -q cases=cards /proc/cmdline; then
    off=$(sed -n 's/.*off=\(card[0-9]*\).*/\1/p' /proc/cmdline)
    for status in /sys/class/drm/"$off"-*/status; do echo off >"$status"; done
    run "$off off" $tool
    # An empty index, which SDL passes over, changes nothing.
    run "$off off, empty index" env SDL_KMSDRM_DEVICE_INDEX= $tool
    for card in /dev/dri/card*; do run "index ${card#/dev/dri/card}" env SDL_KMSDRM_DEVICE_INDEX="${card#/dev/dri/card}" $tool; done
    held deadline none $tool
    exit
fi
run kmsdrm env SDL_VIDEODRIVER=kmsdrm $tool
# Variables left over from a desktop change nothing here.
run 'stale display' env DISPLAY=:9 WAYLAND_DISPLAY=wayland-9 XDG_RUNTIME_DIR=/tmp $tool
run 'x11 asked for' env SDL_VIDEODRIVER=x11 $tool
for signal in TERM INT HUP SEGV; do held "$signal" $signal $tool; done
# Keys typed once a run has ended reach the shell.
echo 'keys?'; read -r -t 60 typed; echo "keys: $typed"
probe xlate >/dev/null
run xlate $tool && held 'xlate TERM' TERM $tool
probe unicode >/dev/null
# Another program holding the display at a mode of its own, as a compositor
# on another terminal would.
mkfifo /tmp/hold && exec 6<>/tmp/hold
/modetest -M "$(cut -d" " -f1 /sys/kernel/debug/dri/0/name)" -s Virtual-1:800x600 <&6 >/tmp/modetest 2>&1 &
for _ in $(seq 100); do grep -q 'setting mode' /tmp/modetest && break; sleep 0.1; done
run 'another master' $tool
echo "master after: $(awk '$4 == "y" { print $1 }' /sys/kernel/debug/dri/0/clients)"
kill %%
run unprivileged su -s $tool nobody
# A tool that leads its terminal's session (the second) may not let go of it;
# SDL finds no signal free to take its switching with. Without job control
# setsid need not fork.
set +m
tty=/dev/tty2
held 'session leader TERM' TERM sh -c "exec setsid -c $tool </dev/tty2"
