# Sourced by each file of rows, tests/PROMISE.sh [BUILD [ROW]], with what the
# build in BUILD (./build) hands the tests; runs the rows whose names hold
# ROW, or all. finish: 0 if they passed, 77 if all were skipped, else 1.
set -ua
. "${1:-build}/tests.env" || exit 2
set +a
only=${2:-}
tmp=$(mktemp -d)
servers=() rows=()
# A stopped server takes its TERM only once it is let go on.
trap 'kill "${servers[@]}" 2>/dev/null; kill -CONT "${servers[@]}" 2>/dev/null; wait; rm -rf "$tmp"' EXIT
# A private runtime directory and a bus that fails at once start no helpers.
export XDG_RUNTIME_DIR=$tmp DBUS_SESSION_BUS_ADDRESS=disabled: tmp
export report='Current Display Resolution'
unset DISPLAY WAYLAND_DISPLAY SDL_VIDEODRIVER
# The tool, with the stand-in loaded ahead of SDL, and redirected ('2>&-').
tool() { $EMULATOR "$TOOL" "$@"; }
stood_in() { ${EMULATOR:-env} ${EMULATOR:+-E} LD_PRELOAD="$STAND_IN" "$TOOL" "$@"; }
redirected() { eval "exec $1" && shift && "$@"; }
# by_sdl SDL2 SDL3: what SDL 2 answers, or SDL 3 behind sdl2-compat (2.x.50 on).
by_sdl() { if [[ $SDL_VERSION == *.[5-9][0-9] ]]; then echo "$2"; else echo "$1"; fi; }
. "$(dirname "${BASH_SOURCE[0]}")/fixtures.sh"

# Time bounded to catch a hang: four times as long emulated. A run ends half a
# second after its silence (12 s for the cap); an emulator needs three to load
# the tool, the sanitizers' start-up, twenty rows at once, half one more.
pace=1 silence=10.5 cap=12.5
[ -z "$EMULATOR" ] || pace=4 silence=13 cap=15
[ -z "${ASAN_OPTIONS:-}" ] || silence=11 cap=13

# check [-t SECONDS] [-s WHY] NAME STATUS STDOUT STDERR -- [VAR=VALUE...]
# COMMAND...: COMMAND (an exported function too) within SECONDS (30 times the
# pace), streams as printf's escapes; a WHY skips the row, saying why.
check() {
    local limit=$((30 * pace)) why= name status took start limit_ms row
    while [[ $1 == -[ts] ]]; do
        if [ "$1" = -t ]; then limit=$2; else why=$2; fi && shift 2
    done
    name=$1
    [[ -z $only || $name == *"$only"* ]] || return 0
    [ -z "$why" ] || { echo "skipped: $name: $why" | tee -a "$tmp/results"; return; }
    limit_ms=$(printf '%.0f' "${limit}e3")
    row=$(mktemp -d "$tmp/row.XXXXXX")
    printf '%b' "$3" >"$row/out.want" && printf '%b' "$4" >"$row/err.want"
    start=${EPOCHREALTIME/./}
    timeout $((limit_ms / 1000 + 5)) bash -c 'while [[ $1 =~ ^[A-Za-z_][A-Za-z0-9_]*= ]]; do export "$1"; shift; done
        "$@"' "$name" "${@:6}" >"$row/out" 2>"$row/err"
    status=$?
    took=$(((${EPOCHREALTIME/./} - start) / 1000))
    if [ "$status" = "$2" ] && [ "$took" -le "$limit_ms" ] &&
        cmp -s "$row/out" "$row/out.want" && cmp -s "$row/err" "$row/err.want"; then
        echo "ok: $name" | tee -a "$tmp/results"
    else
        echo FAILED >>"$tmp/results"
        echo "FAILED: $name: status $status, expected $2; $took ms, limit $limit s;$(printf ' %q' "${@:6}")
$(diff -u --label 'expected stdout' --label stdout "$row/out.want" "$row/out")
$(diff -u --label 'expected stderr' --label stderr "$row/err.want" "$row/err")"
    fi
}
# at_once check ...: runs a row beside the others, for rows that wait long.
at_once() { "$@" & rows+=($!); }
# finish: waits for the rows run at once, and sums up.
finish() {
    [ ${#rows[@]} = 0 ] || wait "${rows[@]}"
    local passed=$(grep -c '^ok' "$tmp/results") failed=$(grep -c '^FAILED' "$tmp/results")
    echo "$passed passed, $failed failed, $(grep -c '^skipped' "$tmp/results") skipped"
    [ "$failed" = 0 ] || exit 1; [ "$passed" != 0 ] || exit 77
}
: >"$tmp/results"
export -f by_sdl tool stood_in redirected
