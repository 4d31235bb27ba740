# Sourced by run.sh: starts the display servers and the session bus that the
# tests run the tool against, one function each, in the private directory
# $tmp; each server's process joins the array servers, which run.sh stops.
# A server that does not come up as configured is a broken test environment.

# Display servers that refuse root (sway) or need no root (Xorg) run as nobody
# when we are root; private_dir makes a directory of theirs.
as_user=()
if [ "$(id -u)" = 0 ]; then
    chmod 711 "$tmp"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
private_dir() { mkdir -m 700 "$1" && { [ -z "${as_user[*]}" ] || chown nobody "$1"; }; }

# broken WHY: the test environment, not the tool, is at fault; stop here.
broken() {
    echo "BROKEN TEST ENVIRONMENT: $*"
    exit 1
}
# skip WHY: the group cannot run here, for that reason.
skip() {
    echo "SKIPPED: $*"
    exit 77
}
# wait_for COMMAND...: true once COMMAND is, false after ten seconds.
wait_for() {
    for _ in $(seq 100); do "$@" && return; sleep 0.1; done
    false
}

# xvfb VAR [tcp|cookie] SIZE...: starts an X server with a screen of each
# size, listening on TCP too, or letting in only clients with a cookie, if
# asked; VAR gets its name.
xvfb() {
    local var=$1 args=(-nolisten tcp) screen=0
    shift
    for size; do
        case $size in
        tcp) args+=(-listen tcp) ;;
        cookie) xauth -q -f "$tmp/$var.auth" add :0 . "$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')" &&
            args+=(-auth "$tmp/$var.auth") ;;
        *) args+=(-screen $((screen++)) "${size}x24") ;;
        esac
    done
    Xvfb -noreset -displayfd 3 "${args[@]}" 3>"$tmp/$var" 2>"$tmp/$var.log" &
    servers+=($!)
    wait_for test -s "$tmp/$var" || broken "Xvfb did not start: $(tail -n 3 "$tmp/$var.log")"
    printf -v "$var" ':%s' "$(cat "$tmp/$var")"
}

# forget_x DISPLAY: removes the lock and socket of a killed X server, which
# would mislead servers started later.
forget_x() {
    rm -f "/tmp/.X${1#:}-lock" "/tmp/.X11-unix/X${1#:}"
}

# xorg VAR: starts Xorg with its dummy driver, whose outputs make one X screen
# with several monitors; VAR gets its name. DUMMY0 (1024x768, with the
# driver's modes) and, right of it, DUMMY1 (800x600 only) are in use.
xorg() {
    local dir=$tmp/xorg
    private_dir "$dir"
    printf '%s\n' 'Section "ServerFlags"' 'Option "AutoAddDevices" "false"' EndSection \
        'Section "Device"' 'Identifier "dummy"' 'Driver "dummy"' 'VideoRam 65536' EndSection \
        'Section "Screen"' 'Identifier "screen"' 'Device "dummy"' 'SubSection "Display"' \
        'Virtual 4096 2048' EndSubSection EndSection >"$dir/xorg.conf"
    # Run by anyone but root, Xorg takes its configuration by relative path only.
    (cd "$dir" && exec "${as_user[@]}" /usr/lib/xorg/Xorg -config xorg.conf -noreset -nolisten tcp \
        -logfile "$dir/log" -displayfd 3 3>"$tmp/$1" >/dev/null 2>&1) &
    servers+=($!)
    wait_for test -s "$tmp/$1" || broken "Xorg did not start: $(grep -s EE "$dir/log" | tail -n 3)"
    printf -v "$1" ':%s' "$(cat "$tmp/$1")"
    # The driver connects an output only once it has a mode, and only a
    # probing query sees that.
    (export DISPLAY=${!1}
        xrandr --addmode DUMMY1 800x600 && xrandr >/dev/null && xrandr --output DUMMY1 --mode 800x600 \
            --right-of DUMMY0 && [ "$(xrandr --listmonitors | head -n 1)" = 'Monitors: 2' ]) ||
        broken "Xorg's dummy driver did not bring up two outputs"
}

# sway_compositor VAR SIZE: starts sway, headless, with one output,
# HEADLESS-1, of that size; VAR gets its runtime directory, which holds the
# socket wayland-1; swaymsg reaches the compositor started last.
sway_compositor() {
    local dir=$tmp/$1
    private_dir "$dir"
    printf 'output HEADLESS-1 mode %s\nxwayland disable\n' "$2" >"$dir.conf"
    chmod 644 "$dir.conf"
    "${as_user[@]}" env XDG_RUNTIME_DIR="$dir" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
        WLR_RENDERER=pixman sway -c "$dir.conf" >"$dir.log" 2>&1 &
    servers+=($!)
    wait_for bash -c "[ -S $dir/wayland-1 ] && [ -S $dir/sway-ipc.*.sock ]" ||
        broken "sway did not start: $(tail -n 3 "$dir.log")"
    export SWAYSOCK=$(echo "$dir"/sway-ipc.*.sock)
    # Without a writable tmpfs on /dev/shm, sway falls back to a mode of its own.
    swaymsg -p -t get_outputs | grep -q "Current mode: $2 " ||
        broken "sway's output did not take the mode $2 (is /dev/shm a writable tmpfs?)"
    printf -v "$1" '%s' "$dir"
}

# weston_compositor VAR SIZE [DISPLAY]: starts weston with one output of that
# size: headless, with no seat, as on a kiosk with no input devices; or in a
# window on the X server DISPLAY, with a seat and a keyboard. VAR gets its
# runtime directory, which holds the socket wayland-1, and VAR_x11 what
# reaches its XWayland.
weston_compositor() {
    local dir=$tmp/$1 backend=headless-backend.so
    private_dir "$dir"
    [ -z "${3:-}" ] || backend=x11-backend.so
    "${as_user[@]}" env DISPLAY="${3:-}" XDG_RUNTIME_DIR="$dir" weston --backend=$backend --socket=wayland-1 \
        --width="${2%x*}" --height="${2#*x}" --xwayland >"$dir.log" 2>&1 &
    servers+=($!)
    wait_for test -S "$dir/wayland-1" || broken "weston did not start: $(tail -n 3 "$dir.log")"
    printf -v "$1" '%s' "$dir"
    xwayland "$1" $!
}

# session_bus: starts a private session bus, open to the servers that run as
# nobody, with an input method on it, as on a desktop, and a monitor of all
# its traffic.
session_bus() {
    export HOME=$tmp XMODIFIERS=@im=ibus DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/bus
    printf '%s\n' '<busconfig><type>session</type><auth>EXTERNAL</auth><standard_session_servicedirs/>' \
        "<listen>$DBUS_SESSION_BUS_ADDRESS</listen>" '<policy context="default"><allow user="*"/>' \
        '<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>' \
        '</policy></busconfig>' >"$tmp/bus.conf"
    dbus-daemon --config-file="$tmp/bus.conf" --nofork --nopidfile 2>/dev/null &
    servers+=($!)
    wait_for test -S "$tmp/bus" || broken "the session bus did not start"
    ibus-daemon --panel=disable --emoji-extension=disable >/dev/null 2>&1 &
    servers+=($!)
    wait_for bash -c 'dbus-send --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:org.freedesktop.portal.IBus 2>/dev/null | grep -q true' || broken "ibus-daemon did not start"
    dbus-monitor >"$tmp/bus.log" 2>&1 &
    servers+=($!)
    wait_for test -s "$tmp/bus.log" || broken "dbus-monitor did not start"
}

# xwayland VAR PID: VAR_x11 gets the variables that reach the XWayland of the
# compositor PID: its display, the first it holds the lock of (for an XWayland
# started on demand) or the one its XWayland child serves, and its cookie if
# it has one in its runtime directory ${!VAR}. An XWayland with no cookie
# lets in only its own user, and so also ours.
xwayland() {
    local display cookie
    wait_for bash -c "grep -qsx ' *$2' /tmp/.X*-lock || pgrep -P $2 -x Xwayland" >/dev/null ||
        broken "no XWayland for $1"
    display=$(grep -lsx " *$2" /tmp/.X*-lock | sort -V | sed -n 's|^/tmp/.X\(.*\)-lock$|\1|p' | head -n 1)
    [ -n "$display" ] || display=$(ps -o args= -p "$(pgrep -P "$2" -x Xwayland)" | sed 's/^[^:]*:\([0-9]*\).*/\1/')
    cookie=$(echo "${!1}"/.mutter-Xwaylandauth.*)
    if [ -e "$cookie" ]; then
        printf -v "$1_x11" 'DISPLAY=:%s XAUTHORITY=%s' "$display" "$cookie"
    else
        printf -v "$1_x11" 'DISPLAY=:%s' "$display"
        [ -z "${as_user[*]}" ] || "${as_user[@]}" env DISPLAY=":$display" xhost "+si:localuser:$(id -un)" >/dev/null ||
            broken "the XWayland of $1 did not let us in"
    fi
}

# mutter_compositor VAR SIZE...: starts GNOME's mutter, headless, on the
# session bus, with a virtual monitor of each size, the first primary; VAR
# gets its runtime directory, which holds the socket wayland-1, and VAR_x11
# what reaches its XWayland.
mutter_compositor() {
    local dir=$tmp/$1 monitors=() pid
    for size in "${@:2}"; do monitors+=(--virtual-monitor "$size"); done
    private_dir "$dir"
    "${as_user[@]}" env XDG_RUNTIME_DIR="$dir" HOME="$dir" mutter --headless --wayland \
        --wayland-display=wayland-1 "${monitors[@]}" >"$dir.log" 2>&1 &
    pid=$!
    servers+=($pid)
    wait_for bash -c "[ -S $dir/wayland-1 ] && [ -s $dir/.mutter-Xwaylandauth.* ]" ||
        broken "mutter did not start: $(tail -n 3 "$dir.log")"
    printf -v "$1" '%s' "$dir"
    xwayland "$1" "$pid"
}

# mutter_layout MONITOR...: lays mutter's monitors out anew, each given as
# CONNECTOR:MODE:X:Y:SCALE[:primary].
mutter_layout() {
    local state serial logical=() connector mode x y scale primary
    state=$(gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
        --method org.gnome.Mutter.DisplayConfig.GetCurrentState) || broken "mutter did not give its layout"
    serial=$(sed 's/^(uint32 \([0-9]*\),.*/\1/' <<<"$state")
    for monitor; do
        IFS=: read -r connector mode x y scale primary <<<"$monitor"
        [ -n "$primary" ] && primary=true || primary=false
        logical+=("($x, $y, $scale, 0, $primary, [('$connector', '$mode', @a{sv} {})])")
    done
    local IFS=,
    gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
        --method org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig "$serial" 1 "[${logical[*]}]" '@a{sv} {}' \
        >/dev/null || broken "mutter did not take the layout $*"
}

# kwin_compositor VAR SIZE [COUNT]: starts KDE's kwin with COUNT (1) virtual
# outputs of that size, Virtual-0 and on, and a keyboard; VAR gets its runtime
# directory, which holds the socket wayland-1, and VAR_x11 what reaches its
# XWayland. kwin_wayland carries a file
# capability that a sandbox may refuse to run: a copy of it, under the same
# name, runs without.
kwin_compositor() {
    local dir=$tmp/$1
    private_dir "$dir"
    mkdir -p "$tmp/kwin" && cp /usr/bin/kwin_wayland "$tmp/kwin/" && chmod 755 "$tmp/kwin"
    "${as_user[@]}" env XDG_RUNTIME_DIR="$dir" HOME="$dir" DBUS_SESSION_BUS_ADDRESS=disabled: \
        "$tmp/kwin/kwin_wayland" --virtual --width "${2%x*}" --height "${2#*x}" --output-count "${3:-1}" \
        --socket wayland-1 --xwayland >"$dir.log" 2>&1 &
    servers+=($!)
    wait_for test -S "$dir/wayland-1" || broken "kwin did not start: $(tail -n 3 "$dir.log")"
    printf -v "$1" '%s' "$dir"
    xwayland "$1" $!
}

# kwin_layout DIR SETTING...: changes the outputs of the kwin whose runtime
# directory is DIR, with kscreen-doctor's settings (output.Virtual-1.scale.2).
kwin_layout() {
    XDG_RUNTIME_DIR=$1 WAYLAND_DISPLAY=wayland-1 QT_QPA_PLATFORM=wayland kscreen-doctor "${@:2}" \
        >"$1.layout" 2>&1 || broken "kwin did not take the layout ${*:2}: $(tail -n 3 "$1.layout")"
}

# x_proxy VAR DISPLAY REPLIES [ROUND_TRIP [HELD_UNTIL]]: starts a proxy in
# front of the local X server DISPLAY that holds each chunk half of
# ROUND_TRIP seconds (0) each way, as a link that long would, and closes each
# connection once the server has sent its setup reply and REPLIES more
# messages (-1: never), as a server dying at that moment would; with
# HELD_UNTIL, its queue is kept full, so that a connect() to it hangs, until
# that file exists. VAR gets the proxy's display, on TCP, and $tmp/VAR.trips
# a line for each connection closed: the round trips it made (the times the
# server spoke after the client).
x_proxy() {
    perl -e 'use IO::Socket::INET; use IO::Socket::UNIX; use IO::Select; use Time::HiRes qw(time sleep);
        my ($path, $limit, $delay, $held, $trips_log) = @ARGV; my $listen;
        for my $n (50 .. 99) {
            $listen = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 6000 + $n, Listen => 1)
                and print("$n\n"), last;
        }
        my @fillers = map { IO::Socket::INET->new(PeerAddr => "127.0.0.1", PeerPort => $listen->sockport,
            Blocking => 0) } 1 .. ($held ? 4 : 0);
        my %filler = map { $_->sockport => 1 } @fillers;
        close STDOUT; $SIG{CHLD} = "IGNORE";
        sleep 0.1 until !$held || -e $held;
        while (my $client = $listen->accept) {
            if ($filler{$client->peerport} || fork) { close $client; next }
            my $server = IO::Socket::UNIX->new(Peer => $path) or die "no X server at $path";
            my $ready = IO::Select->new($client, $server); my ($replies, $trips, $last) = (0, 0, 0); my @held;
            my $done = sub { open(my $log, ">>", $trips_log) or exit; print $log "$trips\n"; exit };
            while (1) {
                my $wait = @held ? $held[0][0] - time : undef;
                for my $from ($ready->can_read(defined $wait && $wait < 0 ? 0 : $wait)) {
                    $done->() unless sysread($from, my $data, 65536);
                    $done->() if $from == $server && $limit >= 0 && $replies++ > $limit;
                    $trips++ if $from == $server && $last == $client;
                    $last = $from;
                    push @held, [time + $delay / 2, $from == $server ? $client : $server, $data];
                }
                while (@held && $held[0][0] <= time) { my $chunk = shift @held; syswrite($chunk->[1], $chunk->[2]) }
            }
        }' "/tmp/.X11-unix/X${2#:}" "$3" "${4:-0}" "${5:-}" "$tmp/$1.trips" >"$tmp/$1" &
    servers+=($!)
    wait_for test -s "$tmp/$1" || broken "the X proxy did not start"
    printf -v "$1" '127.0.0.1:%s' "$(cat "$tmp/$1")"
}

# name_server ANSWER: in the current network namespace, answers DNS queries
# on 127.0.0.1 for any name: A queries with 127.0.0.1 if ANSWER is 1, and
# never AAAA queries, which makes glibc's resolver try three times.
name_server() {
    perl -e 'use IO::Socket::INET;
        my $socket = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 53, Proto => "udp") or die;
        while (my $from = $socket->recv(my $query, 512)) {
            my ($type) = unpack "n", substr($query, index($query, "\0", 12) + 1, 2);
            next unless $type == 1 && $ARGV[0];
            $socket->send(substr($query, 0, 2) . pack("n5", 0x8180, 1, 1, 0, 0) . substr($query, 12) .
                pack("n3Nn", 0xc00c, 1, 1, 60, 4) . pack("C4", 127, 0, 0, 1), 0, $from);
        }' "$1" &
}

# in_named_network ANSWER COMMAND...: runs COMMAND in network and mount
# namespaces of its own, whose resolver is name_server ANSWER, with DISPLAY
# naming, as far.test, an X server there of 1234x567, stopped after.
in_named_network() {
    local answer=$1 status dir
    shift
    dir=$(mktemp -d "$tmp/named.XXXXXX")
    ip link set lo up && echo 'nameserver 127.0.0.1' >"$dir/resolv.conf" &&
        mount --bind "$dir/resolv.conf" /etc/resolv.conf || { echo "no namespace of our own" >&2; return 125; }
    name_server "$answer"
    Xvfb -listen tcp -nolisten unix -noreset -displayfd 3 -screen 0 1234x567x24 3>"$dir/display" 2>/dev/null &
    wait_for test -s "$dir/display" || { echo "Xvfb did not start" >&2; return 125; }
    DISPLAY=far.test:$(cat "$dir/display") "$@"
    status=$?
    kill $(jobs -p)
    wait
    return $status
}

# console_guest ARCH TOOL PROBE: builds, in $tmp/ARCH, a Linux guest of
# Debian's architecture ARCH (amd64, arm64, armhf, riscv64) to boot with qemu: Debian's
# kernel, and an initramfs with busybox, modetest, the tool and the probe
# with the libraries they load, and the modules for the display adapters and
# keyboards; the first process runs console-init.sh.
console_guest() {
    local dir=$tmp/$1 triplet root flavour image parts package merged module target libraries
    triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH -a"$1" 2>/dev/null)
    root=$dir/root
    mkdir -p "$dir/debs" "$root"/{dev,proc,sys,tmp,etc}
    flavour=$1
    [ "$1" != armhf ] || flavour=armmp
    image=$(apt-cache depends "linux-image-$flavour:$1" | sed -n 's/ *Depends: \(linux-image-[^ :]*\).*/\1/p' | head -n 1)
    # Later releases split the kernel's package into the kernel, its modules and the rest.
    parts=$(apt-cache depends "$image:$1" | sed -n "s/ *Depends: \(linux-\(base\|binary\|modules\)-[^ :]*\).*/\1:$1/p")
    (cd "$dir/debs" && apt-get download -q "busybox-static:$1" "libdrm-tests:$1" "$image:$1" $parts \
        >"$dir/download.log" 2>&1) || broken "Debian's kernel for $1 did not download: $(tail -n 2 "$dir/download.log")"
    for package in "$dir"/debs/*.deb; do dpkg-deb -x "$package" "$dir/unpacked"; done
    # Later releases' packages hold their files in /usr only.
    for merged in bin lib; do [ -e "$dir/unpacked/$merged" ] || ln -s "usr/$merged" "$dir/unpacked/$merged"; done
    cp "$(ls "$dir"/unpacked/boot/vmlinu[xz]-* "$dir"/unpacked/lib/modules/*/vmlinuz 2>/dev/null | head -n 1)" "$dir/kernel" ||
        broken "Debian's kernel for $1 holds no vmlinuz or vmlinux"
    cp "$dir/unpacked/bin/busybox" "$dir/unpacked/usr/bin/modetest" "${@:2}" "$(dirname "$0")/console-init.sh" "$root/" ||
        broken "busybox or modetest is not where Debian's packages for $1 put them"
    mv "$root/console-init.sh" "$root/init"
    mkdir "$root/bin" && mv "$root/busybox" "$root/bin/"
    # The modules, each after those it needs, uncompressed for busybox's insmod.
    local release
    release=$(ls "$dir/unpacked/lib/modules") || broken "Debian's kernel for $1 has no modules"
    depmod -b "$dir/unpacked" "$release"
    for module in vgem bochs virtio_pci virtio-gpu virtio_input evdev; do
        modprobe -d "$dir/unpacked" -S "$release" --show-depends "$module" 2>/dev/null | sed -n 's/^insmod \([^ ]*\).*/\1/p'
    done | awk '!seen[$0]++' >"$dir/modules"
    while read -r module; do
        target=${module#"$dir/unpacked"}
        target=$root${target%.xz}
        target=${target%.zst}
        mkdir -p "$(dirname "$target")"
        case $module in
        *.xz) xz -dc "$module" >"$target" ;;
        *.zst) zstd -qdc "$module" >"$target" ;;
        *) cp "$module" "$target" ;;
        esac
        echo "${target#"$root"}" >>"$root/modules"
    done <"$dir/modules"
    # What the programs need, and what SDL and sdl2-compat open themselves.
    libraries=("$root/modetest" "${@:2}" "/usr/lib/$triplet/libudev.so.1")
    [ ! -e "/usr/lib/$triplet/libSDL3.so.0" ] || libraries+=("/usr/lib/$triplet/libSDL3.so.0")
    guest_libraries "$root" "${libraries[@]}"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$dir/initramfs"
}

# guest_libraries ROOT FILE...: copies into ROOT, under the same paths, the
# libraries each FILE needs, as its own architecture's loader finds them, and
# the loader, and FILE if it is a library.
guest_libraries() {
    local root=$1 file loader
    shift
    for file; do
        loader=$(readelf -l "$file" | sed -n 's/.*program interpreter: \(.*\)]/\1/p')
        [ -n "$loader" ] || loader=$(readelf -l "$TOOL" | sed -n 's/.*program interpreter: \(.*\)]/\1/p')
        for library in $file $($EMULATOR "$loader" --list "$file" | grep -o '/[^ ]*'); do
            [[ $library != *.so* ]] || cp -Ln --parents "$library" "$root"
        done
    done
}

# console_boot VAR ARCH DEVICES ARGUMENT...: boots the guest built for ARCH
# with the display adapters DEVICES (qemu's -device, several joined by
# blanks, the first with the lowest PCI address) and the kernel command
# line ARGUMENTs, its serial line into $tmp/VAR.log, and types "abc" and
# Enter on its keyboard when it asks for keys; VAR gets qemu's process.
console_boot() {
    local machine console
    case $2 in
    amd64) machine=(qemu-system-x86_64 -vga none) console=ttyS0 ;;
    arm64) machine=(qemu-system-aarch64 -M virt -cpu cortex-a57 -device virtio-keyboard-pci) console=ttyAMA0 ;;
    armhf) machine=(qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -device virtio-keyboard-pci) console=ttyAMA0 ;;
    riscv64) machine=(qemu-system-riscv64 -M virt -device virtio-keyboard-pci) console=ttyS0 ;;
    esac
    mkfifo "$tmp/$1.monitor.in" "$tmp/$1.monitor.out"
    for device in $3; do machine+=(-device "$device"); done
    timeout 600 "${machine[@]}" -accel tcg -m 1024 -nodefaults -no-reboot -display none \
        -serial "file:$tmp/$1.log" -monitor "pipe:$tmp/$1.monitor" -kernel "$tmp/$2/kernel" \
        -initrd "$tmp/$2/initramfs" -append "console=$console quiet panic=-1 ${*:4}" >"$tmp/$1.qemu" 2>&1 &
    servers+=($!)
    printf -v "$1" '%s' $!
    (while kill -0 "${!1}" 2>/dev/null; do
        ! grep -qs 'keys?' "$tmp/$1.log" || exec printf 'sendkey %s\n' a b c ret >"$tmp/$1.monitor.in"
        sleep 0.2
    done) &
    servers+=($!)
}
