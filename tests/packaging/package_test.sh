#!/usr/bin/env bash
# The Debian package, built from the build tree and checked unpacked.
#
#   package_test.sh STEP BUILD_DIR SCRATCH_DIR SOURCE_DIR VERSION
#
# "build" makes the package with CPack into SCRATCH_DIR and unpacks it there
# (files into root/, control files into control/); the other steps check what
# "build" left: "contents", "tools", "desktop", "lintian".
set -euo pipefail

step=$1
build=$2
scratch=$3
source=$4
version=$5
root=$scratch/root
control=$scratch/control

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

programs=(voltaro-interface voltaro-log meter-sim frame-replay)
icon_sizes=(16 22 24 32 48 64 128 256)

deb_file() {
    local debs=("$scratch"/out/voltaro-interface_"$version"_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single package in $scratch/out"
    echo "${debs[0]}"
}

# Every file and link the package may hold, and nothing else.
expected_files() {
    local p s
    for p in "${programs[@]}"; do
        echo "usr/bin/$p"
        echo "usr/share/man/man1/$p.1.gz"
    done
    echo usr/lib/udev/rules.d/70-voltaro-usb-cable.rules
    echo usr/share/applications/voltaro-interface.desktop
    echo usr/share/icons/hicolor/scalable/apps/voltaro-interface.svg
    for s in "${icon_sizes[@]}"; do
        echo "usr/share/icons/hicolor/${s}x${s}/apps/voltaro-interface.png"
    done
    echo usr/share/doc/voltaro-interface/copyright
    echo usr/share/doc/voltaro-interface/changelog.gz
}

step_build() {
    rm -rf "$scratch"
    mkdir -p "$scratch/out"
    (cd "$build" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
    local deb
    deb=$(deb_file)
    dpkg -x "$deb" "$root"
    dpkg -e "$deb" "$control"
    echo "built and unpacked $deb"
}

field() {
    sed -n "s/^$1: //p" "$control/control"
}

# Each option a program's --help shows must be described on its manual page.
check_man_page() {
    local p=$1 page=$root/usr/share/man/man1/$1.1.gz
    [ -f "$page" ] || fail "no manual page for $p"
    gzip -t "$page" || fail "$page is not gzip data"
    local text warnings
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || true
    [ -z "$warnings" ] || fail "man warns about $p.1: $warnings"
    text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
    grep -Eq "^ +$p - " <<<"$text" || fail "$p.1 has no NAME line for $p"
    local opt
    for opt in $("$root/usr/bin/$p" --help | grep -Eo -- '--[a-z][a-z-]+' | sort -u); do
        grep -Fq -- "$opt" <<<"$text" || fail "$p.1 does not mention $opt"
    done
}

# Runs a maintainer script with a udevadm that only logs its arguments, and
# checks it calls udevadm exactly when udev runs here (and the action asks).
check_maintainer_script() {
    local script=$1 action=$2 acts=$3
    [ -x "$control/$script" ] || fail "$script is missing or not executable"
    local bin=$scratch/fake-bin log=$scratch/udevadm.log
    mkdir -p "$bin"
    printf '#!/bin/sh\necho "$*" >>"%s"\n' "$log" >"$bin/udevadm"
    chmod 755 "$bin/udevadm"
    rm -f "$log"
    PATH="$bin:$PATH" "$control/$script" "$action" || fail "$script $action exited with $?"
    local expected=""
    if [ "$acts" = yes ] && [ -S /run/udev/control ]; then
        expected=$'control --reload-rules\ntrigger --subsystem-match=hidraw --action=change'
    fi
    local got=""
    [ -f "$log" ] && got=$(cat "$log")
    [ "$got" = "$expected" ] || fail "$script $action called udevadm as '$got', expected '$expected'"
}

step_contents() {
    local got want
    got=$(cd "$root" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort)
    want=$(expected_files | sort)
    [ "$got" = "$want" ] || fail "the package's files differ from the expected:"$'\n'"$(diff <(echo "$want") <(echo "$got"))"

    local p
    for p in "${programs[@]}"; do
        local f=$root/usr/bin/$p
        [ -x "$f" ] || fail "$p is not executable"
        file -b "$f" | grep -q '^ELF .*, stripped$' || fail "$p is not a stripped ELF program: $(file -b "$f")"
        check_man_page "$p"
    done

    cmp "$source/packaging/70-voltaro-usb-cable.rules" "$root/usr/lib/udev/rules.d/70-voltaro-usb-cable.rules" ||
        fail "the udev rule differs from packaging/70-voltaro-usb-cable.rules"
    # The rule grants the cable and nothing else: each rule matches hidraw nodes of
    # the cable's product string and only tags them for the seat's user; no mode,
    # group or owner opens any node to others, and nothing is run.
    local rule
    while IFS= read -r rule; do
        case "$rule" in '' | '#'*) continue ;; esac
        [[ "$rule" == 'SUBSYSTEM=="hidraw", SUBSYSTEMS=="usb", ATTRS{product}=="USB to Serial", '* ]] ||
            fail "a udev rule matches more than the cable's hidraw node: $rule"
        [ "${rule##*, }" = 'TAG+="uaccess"' ] && [ "$(grep -o '=' <<<"$rule" | wc -l)" -eq 7 ] ||
            fail "a udev rule does more than tag the cable for the seat's user: $rule"
    done <"$root/usr/lib/udev/rules.d/70-voltaro-usb-cable.rules"

    local s
    for s in "${icon_sizes[@]}"; do
        local png=$root/usr/share/icons/hicolor/${s}x${s}/apps/voltaro-interface.png
        file -b "$png" | grep -q "^PNG image data, $s x $s," || fail "$png is not a $s x $s PNG: $(file -b "$png")"
    done
    file -b "$root/usr/share/icons/hicolor/scalable/apps/voltaro-interface.svg" | grep -q '^SVG' ||
        fail "the scalable icon is not SVG"

    [ "$(field Package)" = voltaro-interface ] || fail "Package is '$(field Package)'"
    [ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
    [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
    local depends lib
    depends=$(field Depends)
    for lib in libc6 'libstdc\+\+6' libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 libqt6network6 \
        libqcustomplot libmuparser; do
        grep -Eq "(^|, )$lib[^,]* \(>= " <<<"$depends" || fail "Depends lacks a versioned $lib: $depends"
    done
    grep -Eq '(^|, )libudev1($|,| )' <<<"$(field Recommends)" || fail "Recommends lacks libudev1"

    local changelog_version
    changelog_version=$(zcat "$root/usr/share/doc/voltaro-interface/changelog.gz" | sed -n '1s/^voltaro-interface (\([^)]*\)).*/\1/p')
    [ "$changelog_version" = "$version" ] || fail "the changelog's newest entry is '$changelog_version', not $version"

    check_maintainer_script postinst configure yes
    check_maintainer_script postinst abort-upgrade no
    check_maintainer_script postrm remove yes
    check_maintainer_script postrm purge yes
    check_maintainer_script postrm upgrade no
    echo "contents as expected"
}

step_tools() {
    local bin=$root/usr/bin out p
    # Every program names its version and shows its help, as help2man and Debian expect.
    for p in "${programs[@]}"; do
        out=$(QT_QPA_PLATFORM=offscreen "$bin/$p" --version) || fail "$p --version exited with $?"
        [ "$out" = "$p $version" ] || fail "$p --version printed '$out'"
        out=$(QT_QPA_PLATFORM=offscreen "$bin/$p" --help) || fail "$p --help exited with $?"
        grep -q -- "--version" <<<"$out" || fail "$p --help does not show --version"
    done

    # voltaro-log --list: the port map, with COM2 pointed at a device of our own.
    out=$(VOLTARO_COM2="$scratch/meter-port" "$bin/voltaro-log" --list) || fail "voltaro-log --list exited with $?"
    local n
    for n in 1 2 3 4; do
        grep -q "^COM$n[[:space:]]" <<<"$out" || fail "voltaro-log --list shows no COM$n: $out"
    done
    grep -q "^COM2[[:space:]]\+$scratch/meter-port\$" <<<"$out" || fail "COM2 does not open VOLTARO_COM2: $out"

    # A capture of the installed simulator, decoded by the installed replay:
    # every frame but the first of a fresh stream.
    "$bin/meter-sim" --count 200 --rate 0 --scenario dcv --out "$scratch/capture.bin"
    "$bin/frame-replay" "$scratch/capture.bin" >"$scratch/replay.txt" 2>"$scratch/replay.err"
    grep -qx 'frames: 200 decoded: 199 dropped: 1' "$scratch/replay.err" ||
        fail "frame-replay said: $(cat "$scratch/replay.err")"
    [ "$(wc -l <"$scratch/replay.txt")" -eq 199 ] || fail "frame-replay printed $(wc -l <"$scratch/replay.txt") lines"
    cut -f3,4 "$scratch/replay.txt" | sort -u | grep -qx $'DC\tV' || fail "the dcv scenario did not decode as DC volts"

    out=$("$bin/meter-sim" --hid --rate 0 --count 50 --scenario ohm | "$bin/frame-replay" --hid --quiet 2>&1 >/dev/null)
    [ "$out" = 'frames: 50 decoded: 50 dropped: 0' ] || fail "frame-replay --hid said: $out"

    # The installed window starts and keeps running (it is stopped after a few seconds).
    local status=0
    XDG_STATE_HOME="$scratch/state" QT_QPA_PLATFORM=offscreen timeout 5 "$bin/voltaro-interface" \
        >"$scratch/window.log" 2>&1 || status=$?
    [ "$status" -eq 124 ] || fail "voltaro-interface ended by itself (status $status): $(cat "$scratch/window.log")"
    echo "installed programs run"
}

step_desktop() {
    local file=$root/usr/share/applications/voltaro-interface.desktop out
    out=$(desktop-file-validate "$file" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
    grep -qx 'Exec=voltaro-interface' "$file" || fail "Exec is not voltaro-interface"
    local icon
    icon=$(sed -n 's/^Icon=//p' "$file")
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon is not in the package"
    echo "desktop file valid"
}

# Errors always fail; a warning fails unless tests/packaging/lintian-allowed
# lists it (each entry explained there and in the README). An entry that no
# longer appears fails too, so the list and the README stay true.
step_lintian() {
    local deb args=() out
    deb=$(deb_file)
    [ "$(id -u)" -eq 0 ] && args+=(--allow-root)
    out=$(lintian "${args[@]}" --fail-on none "$deb" 2>&1) || fail "lintian failed: $out"
    echo "$out"
    local allowed
    allowed=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$source/tests/packaging/lintian-allowed" | awk '{print $1}' | sort -u)
    local errors warnings unexpected
    errors=$(grep '^E: ' <<<"$out" || true)
    [ -z "$errors" ] || fail "lintian errors:"$'\n'"$errors"
    warnings=$(grep '^W: ' <<<"$out" | awk '{print $3}' | sort -u || true)
    unexpected=$(comm -23 <(echo "$warnings" | sed '/^$/d') <(echo "$allowed" | sed '/^$/d'))
    [ -z "$unexpected" ] || fail "lintian warnings not in the allow-list:"$'\n'"$unexpected"
    local stale
    stale=$(comm -13 <(echo "$warnings" | sed '/^$/d') <(echo "$allowed" | sed '/^$/d'))
    [ -z "$stale" ] || fail "allowed lintian warnings that no longer appear (remove them here and in the README):"$'\n'"$stale"
    echo "lintian: no errors, no warnings outside the allow-list"
}

case "$step" in
build) step_build ;;
contents) step_contents ;;
tools) step_tools ;;
desktop) step_desktop ;;
lintian) step_lintian ;;
*) fail "unknown step $step" ;;
esac
