#!/usr/bin/env bash
# The Debian package, built from the build tree and checked unpacked.
#
#   package_test.sh STEP BUILD_DIR SCRATCH_DIR SOURCE_DIR VERSION
#
# "build" makes the package with CPack into SCRATCH_DIR and unpacks it there
# (files into root/, control files into control/); the other steps check what
# "build" left: "contents", "tools", "desktop", "lintian", "service".
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
    echo 'usr/lib/systemd/system/voltaro-log@.service'
    echo usr/lib/sysusers.d/voltaro-log.conf
    echo usr/share/doc/voltaro-interface/examples/voltaro-log.conf
    echo usr/share/doc/voltaro-interface/examples/71-voltaro-log-usb.rules
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

# Runs a maintainer script with udevadm, systemctl and systemd-sysusers that
# only log their arguments, and checks it calls each exactly when it should:
# udevadm when udev runs here, systemctl when systemd does, and
# systemd-sysusers on configure (and only when the action asks at all).
check_maintainer_script() {
    local script=$1 action=$2 acts=$3
    [ -x "$control/$script" ] || fail "$script is missing or not executable"
    local bin=$scratch/fake-bin log=$scratch/calls.log tool
    mkdir -p "$bin"
    for tool in udevadm systemctl systemd-sysusers; do
        printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$log" >"$bin/$tool"
        chmod 755 "$bin/$tool"
    done
    rm -f "$log"
    PATH="$bin:$PATH" "$control/$script" "$action" || fail "$script $action exited with $?"
    local expected=""
    if [ "$acts" = yes ]; then
        [ "$script" = postinst ] && expected+=$'systemd-sysusers voltaro-log.conf\n'
        [ -d /run/systemd/system ] && expected+=$'systemctl daemon-reload\n'
        [ -S /run/udev/control ] &&
            expected+=$'udevadm control --reload-rules\nudevadm trigger --subsystem-match=hidraw --action=change\n'
    fi
    local got=""
    [ -f "$log" ] && got=$(cat "$log")
    [ "$got" = "${expected%$'\n'}" ] || fail "$script $action called '$got', expected '${expected%$'\n'}'"
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
    # the cable's product string, gives them to the group plugdev and tags them
    # for the seat's user; no other mode, group or owner opens any node, and
    # nothing is run.
    local rule
    while IFS= read -r rule; do
        case "$rule" in '' | '#'*) continue ;; esac
        [ "$rule" = 'SUBSYSTEM=="hidraw", SUBSYSTEMS=="usb", ATTRS{product}=="USB to Serial", GROUP="plugdev", MODE="0660", TAG+="uaccess"' ] ||
            fail "a udev rule does more than give the cable to plugdev and the seat's user: $rule"
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

# The service as installed: systemd-analyze verify finds nothing to say of the
# unit (it exits 0 even for an unknown key, so its output must be empty; one
# such key is put into a copy first, to prove it speaks up here), the unit
# runs the installed program, and systemd-sysusers makes its user, in dialout
# and plugdev, from the package's file into the tree's own /etc. The trees
# verified are the package's files with this machine's systemd units beside
# them (the targets every service is ordered after), and its manual pages as
# the unit's documentation.
verify_unit() {
    local tree=$1
    cp -an /usr/lib/systemd/system/. "$tree/usr/lib/systemd/system/"
    MANPATH=$tree/usr/share/man systemd-analyze verify --root="$tree" voltaro-log@bench.service 2>&1
}

step_service() {
    local unit=$root/usr/lib/systemd/system/voltaro-log@.service out
    grep -qx 'ExecStart=/usr/bin/voltaro-log --config /etc/voltaro-log/%i.conf --quiet' "$unit" ||
        fail "the unit does not run /usr/bin/voltaro-log --config: $(grep ExecStart "$unit")"
    local tree=$scratch/verify-tree
    rm -rf "$tree" "$tree-probe"
    mkdir -p "$tree" "$tree-probe"
    cp -a "$root/usr" "$tree/"
    cp -a "$root/usr" "$tree-probe/"
    sed -i 's/^\[Service\]$/[Service]\nNoSuchKey=1/' "$tree-probe/usr/lib/systemd/system/voltaro-log@.service"
    out=$(verify_unit "$tree-probe") || true
    grep -q NoSuchKey <<<"$out" || fail "systemd-analyze verify does not report an unknown key here: $out"
    out=$(verify_unit "$tree") || fail "systemd-analyze verify exited with $?: $out"
    [ -z "$out" ] || fail "systemd-analyze verify: $out"

    # The example of the options is taken whole: its port, made one that is
    # not there, ends the program with status 6, not a refusal (2).
    local example=$scratch/example.conf status=0
    sed 's|^--port .*|--port /dev/voltaro-no-such-port|' \
        "$root/usr/share/doc/voltaro-interface/examples/voltaro-log.conf" >"$example"
    out=$(cd "$scratch" && "$root/usr/bin/voltaro-log" --config "$example" 2>&1) || status=$?
    [ "$status" -eq 6 ] || fail "voltaro-log --config with the example exited with $status: $out"

    local users=$scratch/sysusers-root
    rm -rf "$users"
    mkdir -p "$users/etc" "$users/usr/lib/sysusers.d"
    cp "$root/usr/lib/sysusers.d/voltaro-log.conf" "$users/usr/lib/sysusers.d/"
    out=$(systemd-sysusers --root="$users" 2>&1) || fail "systemd-sysusers failed: $out"
    grep -Eq '^voltaro-log:x:[0-9]+:[0-9]+:[^:]*:/var/lib/voltaro-log:/(usr/)?s?bin/nologin$' "$users/etc/passwd" ||
        fail "no system user voltaro-log: $(cat "$users/etc/passwd")"
    local g
    for g in dialout plugdev; do
        grep -Eq "^$g:x:[0-9]+:(.*,)?voltaro-log(,|\$)" "$users/etc/group" ||
            fail "voltaro-log is not in $g: $(cat "$users/etc/group")"
    done
    echo "service unit verified, its user made"
}

case "$step" in
build) step_build ;;
service) step_service ;;
contents) step_contents ;;
tools) step_tools ;;
desktop) step_desktop ;;
lintian) step_lintian ;;
*) fail "unknown step $step" ;;
esac
