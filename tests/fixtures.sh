# Sourced by lib.sh: the servers the rows run the tool against, one function
# each, in $tmp, joining the array servers, which lib.sh stops; a server that
# does not come up is a broken test environment. Then the ways rows run it.
# Servers that refuse root or need none run as nobody, in a private_dir.
as_user=()
[ "$(id -u)" != 0 ] || { chmod 711 "$tmp" && as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups); }
private_dir() { mkdir -m 700 "$1" && { [ -z "${as_user[*]}" ] || chown nobody "$1"; }; }
# broken WHY: the test environment, not the tool, is at fault; stop here.
broken() { echo "BROKEN TEST ENVIRONMENT: $*"; exit 1; }
# wait_for COMMAND...: true once COMMAND is, false after WAIT_S seconds (10).
wait_for() { for _ in $(seq $((${WAIT_S:-10} * 10))); do "$@" && return; sleep 0.1; done; false; }
# started WHAT LOG TEST...: the server just put in the background is up once
# TEST holds, or broken, with its LOG.
started() { servers+=($!) && wait_for "${@:3}" || broken "$1 did not start: $(tail -n 3 "$2")"; }
# xvfb VAR [tcp|cookie] SIZE...: an X server with a screen of each size, also
# on TCP, or for a cookie only, if asked; VAR gets its name.
xvfb() {
    local var=$1 args=(-nolisten tcp) screen=0
    for size in "${@:2}"; do
        case $size in
        tcp) args+=(-listen tcp) ;;
        cookie) : >"$tmp/$var.auth" && args+=(-auth "$tmp/$var.auth") &&
            xauth -q -f "$tmp/$var.auth" add :0 . "$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')" ;;
        *) args+=(-screen $((screen++)) "${size}x24") ;;
        esac
    done
    : >"$tmp/$var"
    Xvfb -noreset -displayfd 3 "${args[@]}" 3>"$tmp/$var" 2>"$tmp/$var.log" &
    started Xvfb "$tmp/$var.log" test -s "$tmp/$var"
    printf -v "$var" ':%s' "$(cat "$tmp/$var")"
}
# forget_x DISPLAY: removes the lock and socket of a killed X server.
forget_x() { rm -f "/tmp/.X${1#:}-lock" "/tmp/.X11-unix/X${1#:}"; }
# xorg VAR: Xorg's dummy driver, one X screen over 16 outputs: DUMMY0
# (1024x768) and DUMMY1 (800x600) to its right.
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
    started Xorg "$dir/log" test -s "$tmp/$1"
    printf -v "$1" ':%s' "$(cat "$tmp/$1")"
    # The driver connects an output only once it has a mode, seen by a probe.
    (export DISPLAY=${!1}
        xrandr --addmode DUMMY1 800x600 && xrandr >/dev/null && xrandr --output DUMMY1 --mode 800x600 \
            --right-of DUMMY0 && [ "$(xrandr --listmonitors | head -n 1)" = 'Monitors: 2' ]) ||
        broken "Xorg's dummy driver did not bring up two outputs"
}
# sway_compositor VAR SIZE: sway, headless, its output HEADLESS-1 of SIZE; VAR
# gets its runtime directory (wayland-1), swaymsg reaches the last started.
sway_compositor() {
    local dir=$tmp/$1
    private_dir "$dir"
    printf 'output HEADLESS-1 mode %s\nxwayland disable\n' "$2" >"$dir.conf" && chmod 644 "$dir.conf"
    "${as_user[@]}" env XDG_RUNTIME_DIR="$dir" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
        WLR_RENDERER=pixman sway -c "$dir.conf" >"$dir.log" 2>&1 &
    started sway "$dir.log" bash -c "[ -S $dir/wayland-1 ] && [ -S $dir/sway-ipc.*.sock ]"
    export SWAYSOCK=$(echo "$dir"/sway-ipc.*.sock)
    # Without a writable tmpfs on /dev/shm, sway falls back to a mode of its own.
    swaymsg -p -t get_outputs | grep -q "Current mode: $2 " ||
        broken "sway's output did not take the mode $2 (is /dev/shm a writable tmpfs?)"
    printf -v "$1" '%s' "$dir"
}
# weston_compositor VAR SIZE [DISPLAY]: weston, headless with no seat (a
# kiosk), or in a window on DISPLAY with a keyboard; VAR, VAR_x11 as mutter's.
weston_compositor() {
    local dir=$tmp/$1 backend=headless-backend.so
    private_dir "$dir"
    [ -z "${3:-}" ] || backend=x11-backend.so
    "${as_user[@]}" env DISPLAY="${3:-}" XDG_RUNTIME_DIR="$dir" weston --backend=$backend --socket=wayland-1 \
        --width="${2%x*}" --height="${2#*x}" --xwayland >"$dir.log" 2>&1 &
    started weston "$dir.log" test -S "$dir/wayland-1"
    printf -v "$1" '%s' "$dir"
    xwayland "$1" $!
}
# session_bus: a private session bus, open to all, an input method on it and
# a monitor of all its traffic.
session_bus() {
    export HOME=$tmp XMODIFIERS=@im=ibus DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/bus
    printf '%s\n' '<busconfig><type>session</type><auth>EXTERNAL</auth><standard_session_servicedirs/>' \
        "<listen>$DBUS_SESSION_BUS_ADDRESS</listen>" '<policy context="default"><allow user="*"/>' \
        '<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>' \
        '</policy></busconfig>' >"$tmp/bus.conf"
    dbus-daemon --config-file="$tmp/bus.conf" --nofork --nopidfile 2>"$tmp/bus.errors" &
    started 'the session bus' "$tmp/bus.errors" test -S "$tmp/bus"
    ibus-daemon --panel=disable --emoji-extension=disable >"$tmp/ibus.log" 2>&1 &
    started ibus-daemon "$tmp/ibus.log" bash -c 'dbus-send --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.portal.IBus 2>/dev/null | grep -q true'
    dbus-monitor >"$tmp/bus.log" 2>&1 &
    started dbus-monitor "$tmp/bus.log" test -s "$tmp/bus.log"
}
# xwayland VAR PID: VAR_x11 gets what reaches the XWayland of compositor PID:
# the display it locks or its child serves, and its cookie, or with none, us.
xwayland() {
    local display cookie
    wait_for bash -c "grep -qsx ' *$2' /tmp/.X*-lock || pgrep -P $2 -x Xwayland" >/dev/null ||
        broken "no XWayland for $1"
    display=$(grep -lsx " *$2" /tmp/.X*-lock | sort -V | sed -n 's|^/tmp/.X\(.*\)-lock$|\1|p' | head -n 1)
    [ -n "$display" ] || display=$(ps -o args= -p "$(pgrep -P "$2" -x Xwayland)" | sed 's/^[^:]*:\([0-9]*\).*/\1/')
    cookie=$(echo "${!1}"/.mutter-Xwaylandauth.*)
    printf -v "$1_x11" 'DISPLAY=:%s' "$display"
    if [ -e "$cookie" ]; then
        printf -v "$1_x11" 'DISPLAY=:%s XAUTHORITY=%s' "$display" "$cookie"
    elif [ -n "${as_user[*]}" ]; then
        "${as_user[@]}" env DISPLAY=":$display" xhost "+si:localuser:$(id -un)" >/dev/null ||
            broken "the XWayland of $1 did not let us in"
    fi
}
# mutter_compositor VAR SIZE...: mutter, headless, on the bus, a monitor of
# each size; VAR gets its runtime directory (wayland-1), VAR_x11 its XWayland.
mutter_compositor() {
    local dir=$tmp/$1 monitors=()
    for size in "${@:2}"; do monitors+=(--virtual-monitor "$size"); done
    private_dir "$dir"
    "${as_user[@]}" env XDG_RUNTIME_DIR="$dir" HOME="$dir" mutter --headless --wayland \
        --wayland-display=wayland-1 "${monitors[@]}" >"$dir.log" 2>&1 &
    started mutter "$dir.log" bash -c "[ -S $dir/wayland-1 ] && [ -s $dir/.mutter-Xwaylandauth.* ]"
    printf -v "$1" '%s' "$dir"
    xwayland "$1" "${servers[-1]}"
}
# mutter_layout CONNECTOR:MODE:X:Y:SCALE[:primary]...: mutter's layout anew.
mutter_layout() {
    local config=(gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path
        /org/gnome/Mutter/DisplayConfig --method org.gnome.Mutter.DisplayConfig) state logical=()
    local connector mode x y scale primary
    state=$("${config[@]}.GetCurrentState") || broken "mutter did not give its layout"
    for monitor; do
        IFS=: read -r connector mode x y scale primary <<<"$monitor" && primary=${primary:+true}
        logical+=("($x, $y, $scale, 0, ${primary:-false}, [('$connector', '$mode', @a{sv} {})])")
    done
    local IFS=,
    "${config[@]}.ApplyMonitorsConfig" "$(sed 's/^(uint32 \([0-9]*\),.*/\1/' <<<"$state")" 1 "[${logical[*]}]" \
        '@a{sv} {}' >/dev/null ||
        broken "mutter did not take the layout $*"
}
# kwin_compositor VAR SIZE [COUNT]: kwin, COUNT (1) outputs Virtual-0 on and a
# keyboard, as a copy without the file capability a sandbox may refuse.
kwin_compositor() {
    local dir=$tmp/$1
    private_dir "$dir"
    mkdir -p "$tmp/kwin" && cp /usr/bin/kwin_wayland "$tmp/kwin/" && chmod 755 "$tmp/kwin"
    "${as_user[@]}" env XDG_RUNTIME_DIR="$dir" HOME="$dir" DBUS_SESSION_BUS_ADDRESS=disabled: \
        "$tmp/kwin/kwin_wayland" --virtual --width "${2%x*}" --height "${2#*x}" --output-count "${3:-1}" \
        --socket wayland-1 --xwayland >"$dir.log" 2>&1 &
    started kwin "$dir.log" test -S "$dir/wayland-1"
    printf -v "$1" '%s' "$dir"
    xwayland "$1" $!
}
# kwin_layout DIR SETTING...: kscreen-doctor's settings for the kwin of DIR.
kwin_layout() {
    XDG_RUNTIME_DIR=$1 WAYLAND_DISPLAY=wayland-1 QT_QPA_PLATFORM=wayland kscreen-doctor "${@:2}" >"$1.layout" 2>&1 ||
        broken "kwin did not take the layout ${*:2}: $(tail -n 3 "$1.layout")"
}
# x_proxy VAR DISPLAY REPLIES [ROUND_TRIP [HELD_UNTIL]]: a proxy to DISPLAY,
# holding each chunk half of ROUND_TRIP seconds each way, closing after the
# setup and REPLIES more (-1: never), its queue full (connect() hangs) till
# HELD_UNTIL exists. VAR: its TCP display; $tmp/VAR.trips: round trips.
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
    started 'the X proxy' /dev/null test -s "$tmp/$1"
    printf -v "$1" '127.0.0.1:%s' "$(cat "$tmp/$1")"
}
# in_named_network ANSWER COMMAND...: COMMAND in namespaces of its own, DISPLAY
# naming far.test, whose name server answers A queries if ANSWER is 1, and
# never AAAA ones, so that glibc tries thrice.
in_named_network() {
    local dir status
    dir=$(mktemp -d "$tmp/named.XXXXXX")
    ip link set lo up && echo 'nameserver 127.0.0.1' >"$dir/resolv.conf" &&
        mount --bind "$dir/resolv.conf" /etc/resolv.conf || { echo "no namespace of our own" >&2; return 125; }
    perl -e 'use IO::Socket::INET;
        my $socket = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 53, Proto => "udp") or die;
        open(my $ready, ">", $ARGV[1]);
        while (my $from = $socket->recv(my $query, 512)) {
            my ($type) = unpack "n", substr($query, index($query, "\0", 12) + 1, 2);
            next unless $type == 1 && $ARGV[0];
            $socket->send(substr($query, 0, 2) . pack("n5", 0x8180, 1, 1, 0, 0) . substr($query, 12) .
                pack("n3Nn", 0xc00c, 1, 1, 60, 4) . pack("C4", 127, 0, 0, 1), 0, $from);
        }' "$1" "$dir/listening" &
    Xvfb -listen tcp -nolisten unix -noreset -displayfd 3 -screen 0 1234x567x24 3>"$dir/display" 2>/dev/null &
    WAIT_S=20 wait_for test -e "$dir/listening" -a -s "$dir/display" || { echo "no name server or Xvfb" >&2; return 125; }
    DISPLAY=far.test:$(cat "$dir/display") "${@:2}"; status=$?
    kill $(jobs -p) && wait
    return $status
}
# console_guest ARCH TOOL PROBE: a guest in $tmp/ARCH: Debian's kernel, and an
# initramfs of busybox, modetest, the tool, the probe, their libraries, the
# display adapters' and keyboards' modules, and console-init.sh as init.
console_guest() {
    local dir=$tmp/$1 root=$tmp/$1/root triplet image parts package merged module target libraries release
    triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH -a"$1" 2>/dev/null)
    mkdir -p "$dir/debs" "$root"/{bin,dev,proc,sys,tmp,etc}
    image=$(apt-cache depends "linux-image-${1/armhf/armmp}:$1" | sed -n 's/ *Depends: \(linux-image-[^ :]*\).*/\1/p' |
        head -n 1)
    # Later releases split the kernel's package in three.
    parts=$(apt-cache depends "$image:$1" | sed -n "s/ *Depends: \(linux-\(base\|binary\|modules\)-[^ :]*\).*/\1:$1/p")
    (cd "$dir/debs" && apt-get download -q "busybox-static:$1" "libdrm-tests:$1" "$image:$1" $parts \
        >"$dir/download.log" 2>&1) || broken "Debian's kernel for $1 did not download: $(tail -n 2 "$dir/download.log")"
    for package in "$dir"/debs/*.deb; do dpkg-deb -x "$package" "$dir/unpacked"; done
    # Later releases' packages hold their files in /usr only.
    for merged in bin lib; do [ -e "$dir/unpacked/$merged" ] || ln -s "usr/$merged" "$dir/unpacked/$merged"; done
    cp "$(ls "$dir"/unpacked/boot/vmlinu[xz]-* "$dir"/unpacked/lib/modules/*/vmlinuz 2>/dev/null | head -n 1)" "$dir/kernel" ||
        broken "Debian's kernel for $1 holds no vmlinuz or vmlinux"
    cp "$dir/unpacked/usr/bin/modetest" "${@:2}" "$root/" && cp "$dir/unpacked/bin/busybox" "$root/bin/" &&
        cp "$(dirname "$0")/console-init.sh" "$root/init" || broken "no busybox or modetest in Debian's packages for $1"
    # The modules, each after those it needs, uncompressed for busybox's insmod.
    release=$(ls "$dir/unpacked/lib/modules") || broken "Debian's kernel for $1 has no modules"
    depmod -b "$dir/unpacked" "$release"
    for module in vgem bochs virtio_pci virtio-gpu virtio_input evdev; do
        modprobe -d "$dir/unpacked" -S "$release" --show-depends "$module" 2>/dev/null | sed -n 's/^insmod \([^ ]*\).*/\1/p'
    done | awk '!seen[$0]++' >"$dir/modules"
    while read -r module; do
        target=${module#"$dir/unpacked"} && target=${target%.xz} && target=$root${target%.zst}
        mkdir -p "$(dirname "$target")"
        case $module in
        *.xz) xz -dc "$module" ;;
        *.zst) zstd -qdc "$module" ;;
        *) cat "$module" ;;
        esac >"$target"
        echo "${target#"$root"}" >>"$root/modules"
    done <"$dir/modules"
    # What the programs need, and what SDL and sdl2-compat open themselves.
    libraries=("$root/modetest" "${@:2}" "/usr/lib/$triplet/libudev.so.1")
    [ ! -e "/usr/lib/$triplet/libSDL3.so.0" ] || libraries+=("/usr/lib/$triplet/libSDL3.so.0")
    guest_libraries "$root" "${libraries[@]}"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$dir/initramfs"
}
# guest_libraries ROOT FILE...: the libraries each FILE needs, and the loader.
guest_libraries() {
    local root=$1 file loader
    for file in "${@:2}"; do
        loader=$(readelf -l "$file" | sed -n 's/.*program interpreter: \(.*\)]/\1/p')
        [ -n "$loader" ] || loader=$(readelf -l "$TOOL" | sed -n 's/.*program interpreter: \(.*\)]/\1/p')
        for library in $file $($EMULATOR "$loader" --list "$file" | grep -o '/[^ ]*'); do
            [[ $library != *.so* ]] || cp -Ln --parents "$library" "$root"
        done
    done
}
# console_boot VAR ARCH DEVICES ARGUMENT...: boots the guest with DEVICES
# (qemu's, the first lowest on PCI) and the kernel's ARGUMENTs, its serial line
# in $tmp/VAR.log, typing "abc" when it asks; VAR gets qemu's process.
console_boot() {
    local machine console
    case $2 in
    amd64) machine=(qemu-system-x86_64 -vga none) console=ttyS0 ;;
    arm64) machine=(qemu-system-aarch64 -M virt -cpu cortex-a57 -device virtio-keyboard-pci) console=ttyAMA0 ;;
    armhf) machine=(qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -device virtio-keyboard-pci) console=ttyAMA0 ;;
    riscv64) machine=(qemu-system-riscv64 -M virt -device virtio-keyboard-pci) console=ttyS0 ;;
    esac
    command -v "${machine[0]}" >/dev/null || broken "no ${machine[0]} to boot the $2 guest"
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
# read_only_on_bus COMMAND...: true if COMMAND succeeds and asks the bus only
# read-only queries (SDL 2: none); a message of ours marks the end.
read_only_on_bus() {
    local start=$(wc -l <"$tmp/bus.log")
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
# stop_after_line PID SIGNAL COMMAND...: COMMAND's output held in a full pipe,
# SIGNAL sent to PID once it waits to write, then let through.
stop_after_line() {
    local command status line
    mkfifo "$tmp/held.$BASHPID" && exec 5<>"$tmp/held.$BASHPID" && head -c 65536 /dev/zero >&5
    "${@:3}" >&5 & command=$!
    wait_for grep -q pipe_write "/proc/$command/wchan" || echo "never wrote to the pipe" >&2
    kill -"$2" "$1" && head -c 65536 <&5 >/dev/null
    wait "$command"; status=$?
    read -r -t 1 line <&5 && echo "$line"
    return $status
}
namespace=(unshare --pid --fork) by_name=(unshare -mn) # as PID 1 of a namespace; in network and mount ones
[ "$(id -u)" = 0 ] || namespace=(unshare --map-root-user --pid --fork) by_name=(unshare --map-root-user -mn)
export -f wait_for started broken xvfb read_only_on_bus stop_after_line in_named_network forget_x
