#!/usr/bin/env bash
# The Debian package: fields, contents, manual page, binary, lintian, hardening
# and the same bytes from a second build.
. "$(dirname "$0")/lib.sh"
cpack --config "$PACKAGE_CONFIG" -B "$tmp/deb" >"$tmp/cpack.log" 2>&1 || cat "$tmp/cpack.log"
deb=$tmp/deb/display-resolution_${VERSION}_${DEB_ARCH:-$(dpkg --print-architecture)}.deb
xvfb one 1234x567
# 32-bit Arm takes integer division and unwinding from libgcc.
depends='libc6, libsdl2-2.0-0'
[ "$DEB_ARCH" != armhf ] || depends='libc6, libgcc-s1, libsdl2-2.0-0'
check 'package fields' 0 "display-resolution\nutils\n$depends\n" '' -- \
    bash -c 'for field in Package Section Depends; do dpkg-deb -f "$0" $field; done | sed "s/ ([^)]*)//g"' "$deb"
check 'package contents' 0 "./usr/bin/display-resolution\n./usr/share/doc/display-resolution/changelog.gz
./usr/share/doc/display-resolution/copyright\n./usr/share/man/man1/display-resolution.1.gz\n" '' -- \
    bash -c 'dpkg-deb -c "$0" | awk "!/\/\$/ { print \$6 }"' "$deb"
check 'manual page' 0 '' '' -- \
    bash -c 'dpkg-deb --fsys-tarfile "$0" | tar -xO --wildcards "*.1.gz" | zcat | groff -man -ww -z' "$deb"
dpkg-deb -x "$deb" "$tmp/root"
check 'packaged binary' 0 "$report: 1234x567\n" '' -- DISPLAY=$one TOOL=$tmp/root/usr/bin/display-resolution tool
check 'lintian, every tag' 0 '' '' -- redirected '2>/dev/null' lintian -I -E --pedantic "$deb"
# Debian's start files lack the control-flow marks hardening-check looks for
# (its own ls has none): the protection shows in the code instead.
hardening=(hardening-check --quiet --nocfprotection)
! grep -q nobranchprotection "$(command -v hardening-check)" || hardening+=(--nobranchprotection)
check 'hardened' 0 '' '' -- redirected '2>/dev/null' "${hardening[@]}" "$tmp/root/usr/bin/display-resolution"
case ${DEB_ARCH:-amd64} in amd64) protection=endbr64 ;; arm64) protection=paciasp ;; *) protection= ;; esac
none= && [ -n "$protection" ] || none='32-bit Arm and RISC-V have no control-flow protection to give'
check -s "$none" "control flow protected: $protection" 0 '' '' -- \
    bash -c '"$OBJDUMP" -d --disassemble=main "$TOOL" | grep -q "$0"' "$protection"
# The same commit built again in another directory packs to the same bytes.
again=(cmake -S "$SOURCE_DIR" -B "$tmp/again" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DBUILD_TESTING=OFF)
[ -z "$TOOLCHAIN" ] || again+=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN")
check 'reproducible' 0 '' '' -- bash -c '"${@:3}" >/dev/null && cmake --build "$tmp/again" >/dev/null &&
    cpack --config "$tmp/again/CPackConfig.cmake" -B "$tmp/again/deb" >/dev/null 2>&1 && cmp "$1" "$tmp/again/deb/$2"' \
    - "$deb" "${deb##*/}" "${again[@]}"
finish
