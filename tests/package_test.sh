#!/usr/bin/env bash
# The installed program and its Debian package, checked the way a user's machine sees them.
# One ctest case per step (cmake/packaging.cmake registers them):
#   install   cmake --install into <work>/prefix (the others need it)
#   tree      the tree file by file: desktop entry, AppStream metadata, manual page, icons,
#             copyright, each through its validator
#   window    the installed program, started with a clean environment, finds its country table
#   deb       the package built by CPack: control fields, file list, lintian
# usage: package_test.sh <step> <source dir> <build dir> <work dir>
set -euo pipefail
step=$1 src=$2 build=$3 work=$4
prefix=$work/prefix
app=${VELMORA_APP_ID:?}
read -r -a sizes <<<"${VELMORA_ICON_SIZES:?}"

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
need() {
    local c
    for c; do command -v "$c" >/dev/null || fail "'$c' is missing (setup.sh installs it)"; done
}

# Every file the install must produce, relative to the prefix.
expected_files() {
    {
        echo bin/velmora
        echo share/velmora/geoip.bin
        echo "share/applications/$app.desktop"
        for s in "${sizes[@]}"; do echo "share/icons/hicolor/${s}x$s/apps/velmora.png"; done
        echo "share/metainfo/$app.metainfo.xml"
        echo share/man/man1/velmora.1
        echo share/doc/velmora/copyright
        echo share/doc/velmora/changelog
    } | LC_ALL=C sort
}

version() { echo "${VELMORA_VERSION:?}"; }

check_install() {
    [ -s "$build/share/velmora/geoip.bin" ] ||
        fail "$build/share/velmora/geoip.bin is missing: run  bash tools/setup.d/geoip.sh $build"
    rm -rf "$work"
    mkdir -p "$work"
    cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; fail "cmake --install"; }
}

check_desktop_entry() {
    local f=$prefix/share/applications/$app.desktop out key
    need desktop-file-validate
    out=$(desktop-file-validate "$f" 2>&1) || true
    [ -z "$out" ] || fail "desktop-file-validate $f:"$'\n'"$out"
    for key in Name GenericName Comment Exec Icon Categories Keywords StartupWMClass; do
        grep -q "^$key=." "$f" || fail "$f has no $key"
    done
    grep -qx 'StartupWMClass=Velmora' "$f" || fail "StartupWMClass is not Velmora"
    # The entry starts the installed program and shows the installed icon.
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$f")
    icon=$(sed -n 's/^Icon=//p' "$f")
    [ -x "$prefix/bin/$exec" ] || fail "Exec=$exec is not an installed program"
    [ -f "$prefix/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "Icon=$icon is not installed"
}

check_metainfo() {
    local f=$prefix/share/metainfo/$app.metainfo.xml out
    need appstreamcli
    # Pedantic hints are not shown; any error, warning or info fails.
    out=$(appstreamcli validate --no-net "$f" 2>&1) && ! grep -qE '^[EWI]:' <<<"$out" ||
        fail "appstreamcli validate --no-net $f:"$'\n'"$out"
    echo "appstreamcli: $out"
    local want
    for want in "<id>$app</id>" "<launchable type=\"desktop-id\">$app.desktop</launchable>" \
                "<binary>velmora</binary>" "<release version=\"$(version)\"" \
                "<url type=\"homepage\">${VELMORA_WEBSITE:?}</url>" \
                "<update_contact>${VELMORA_SUPPORT_MAIL:?}</update_contact>" "<content_rating" \
                "<metadata_license>" "<project_license>"; do
        grep -qF "$want" "$f" || fail "$f lacks $want"
    done
}

check_manual() {
    local f=$prefix/share/man/man1/velmora.1 warn text opt v
    need man col
    warn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$f" 2>&1 >/dev/null) || fail "man -l $f failed"
    [ -z "$warn" ] || fail "man --warnings -l $f:"$'\n'"$warn"
    text=$(LC_ALL=C MANWIDTH=80 man -l "$f" 2>/dev/null | col -bx)
    for want in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' ENVIRONMENT FILES COPYRIGHT; do
        grep -qx -- "$want" <<<"$text" || fail "the manual page has no section $want"
    done
    local flat
    flat=$(tr -s ' \n' '  ' <<<"$text")
    for want in 'IP Geolocation by DB-IP' 'CC BY 4.0' geoip.bin Velmora.log settings.dat; do
        grep -qF -- "$want" <<<"$flat" || fail "the manual page does not mention '$want'"
    done
    # Every option of the help text has its own entry under OPTIONS; every exit status and
    # every environment variable the sources read is described.
    local options
    options=$(sed -n '/^OPTIONS/,/^EXIT STATUS/p' <<<"$text")
    for opt in --help -h $("$prefix/bin/velmora" --help | grep -oE '(^| )--?[a-z][a-z-]*' | sort -u); do
        grep -qE -- "^ +(--[a-z-]+, )?$opt([ ,]|$)" <<<"$options" || fail "OPTIONS has no entry for $opt"
    done
    for v in 0 1 2; do
        sed -n '/^EXIT STATUS/,/^ENVIRONMENT/p' <<<"$text" | grep -qE "^ +$v( |$)" ||
            fail "exit status $v undocumented"
    done
    local env
    env=$(sed -n '/^ENVIRONMENT/,/^FILES/p' <<<"$text")
    for v in $(grep -rhoE 'getenv\("[A-Za-z_]+"\)' "$src/src" "$src/crash" 2>/dev/null |
               sed 's/.*("\(.*\)")/\1/' | sort -u); do
        grep -qw -- "$v" <<<"$env" || fail "$v is read by the program but not in the manual's ENVIRONMENT"
    done
}

check_icons() {
    local s f kind
    need file
    for s in "${sizes[@]}"; do
        f=$prefix/share/icons/hicolor/${s}x$s/apps/velmora.png
        kind=$(file -b "$f")
        [[ $kind == "PNG image data, $s x $s,"* ]] || fail "$f: $kind"
    done
}

check_copyright() {
    local f=$prefix/share/doc/velmora/copyright lib
    need readelf
    # Every library the program is linked against is named with its licence.
    for lib in $(readelf -d "$prefix/bin/velmora" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        grep -qF "$lib" "$f" || fail "$f does not name the linked library $lib"
    done
    for want in 'IP Geolocation by DB-IP' 'License: CC-BY-4.0' 'Creative Commons Attribution 4.0' \
                'License: Unicode-3.0' "Files: usr/share/velmora/geoip.bin"; do
        grep -qF "$want" "$f" || fail "$f lacks '$want'"
    done
}

check_tree() {
    local got
    got=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
    [ "$got" = "$(expected_files)" ] ||
        fail "install tree differs from the expected list:"$'\n'"$(diff <(expected_files) <(echo "$got"))"
    [ -x "$prefix/bin/velmora" ] || fail "bin/velmora is not executable"
    [ -z "$(cd "$prefix" && find . -type f ! -path ./bin/velmora -perm /111)" ] ||
        fail "data files are executable"
    cmp -s "$build/share/velmora/geoip.bin" "$prefix/share/velmora/geoip.bin" ||
        fail "the installed geoip.bin differs from the build's"
    [ "$("$prefix/bin/velmora" --version | cut -d' ' -f2)" = "$(version)" ] ||
        fail "the program's version is not the project's $(version)"
    head -1 "$prefix/share/doc/velmora/changelog" | grep -qF "velmora ($(version))" ||
        fail "the changelog's last entry is not $(version)"
    check_desktop_entry
    check_metainfo
    check_manual
    check_icons
    check_copyright
}

# Runs inside xvfb-run: the installed program with nothing of this environment but the display.
window_inner() {
    local home=$work/window log pid i line
    rm -rf "$home"
    mkdir -p "$home/home"
    log=$home/config/Velmora/Velmora.log
    (cd / && exec env -i PATH=/usr/bin:/bin HOME="$home/home" XDG_CONFIG_HOME="$home/config" \
        DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" LANG=C.UTF-8 \
        "$prefix/bin/velmora" --tab 3 >"$home/stdout" 2>&1) &
    pid=$!
    # The table is opened on first use: give the window 5 s after it is shown (20 s at most).
    local shown=-1
    for ((i = 0; i < 200; i++)); do
        grep -q ' country table' "$log" 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || break
        if ((shown < 0)) && grep -q ' window ' "$log" 2>/dev/null; then shown=$i; fi
        ((shown < 0 || i - shown < 50)) || break
        sleep 0.1
    done
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" || true
    [ -s "$log" ] || fail "the installed program wrote no log; its output:"$'\n'"$(cat "$home/stdout")"
    grep -q 'package plain' "$log" || fail "not started as a plain installation:"$'\n'"$(cat "$log")"
    line=$(grep -m1 ' country table' "$log" || true)
    if [ -z "$line" ]; then
        skip "the window looked up no country within 5 s of being shown, so it never opened the country table"
    fi
    local path=${line#* country table }
    path=${path%%: *}
    [[ $line != *"not found"* ]] || fail "the installed program did not find its table: $line"
    [ "$(readlink -f "$path")" = "$(readlink -f "$prefix/share/velmora/geoip.bin")" ] ||
        fail "the installed program used $path, not $prefix/share/velmora/geoip.bin"
    echo "found: $line"
}

check_window() {
    need xvfb-run xauth
    # xvfb-run's own exit code also reports trouble removing its temporary directory, which
    # would hide the step's verdict; the step leaves its code in a file instead.
    local rc=$work/window.rc
    rm -f "$rc"
    xvfb-run -a -s '-screen 0 1280x800x24 -nolisten tcp' \
        bash -c 'bash "$0" window-inner "$1" "$2" "$3"; echo $? >"$4"' \
        "$0" "$src" "$build" "$work" "$rc" || true
    [ -s "$rc" ] || fail "xvfb-run did not run the window step"
    exit "$(cat "$rc")"
}

# The .deb as dpkg and lintian see it.
check_deb() {
    need cpack dpkg-deb dpkg-shlibdeps lintian
    local out=$work/deb arch ver deb
    arch=$(dpkg --print-architecture)
    ver=$(version)
    rm -rf "$out"
    (cd "$build" && cpack -G DEB -B "$out") >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; fail "cpack"; }
    deb=$out/velmora_${ver}_$arch.deb
    [ -f "$deb" ] || fail "expected $deb; cpack made: $(ls "$out")"
    dpkg-deb --info "$deb"

    local field want got
    while IFS='|' read -r field want; do
        got=$(dpkg-deb -f "$deb" "$field")
        [ "$got" = "$want" ] || fail "$field is '$got', expected '$want'"
    done <<EOF
Package|velmora
Version|$ver
Architecture|$arch
Maintainer|${VELMORA_MAINTAINER:?}
Section|net
Priority|optional
Homepage|${VELMORA_WEBSITE:?}
EOF
    local depends recommends pkg
    depends=$(dpkg-deb -f "$deb" Depends)
    for pkg in 'libsdl2-2\.0-0' 'libcairo2' 'libpango-1\.0-0' 'libglib2\.0-0(t64)?' 'libsodium[0-9]+'; do
        grep -qE "(^|, )$pkg( |,|$)" <<<"$depends" || fail "Depends lacks $pkg: $depends"
    done
    recommends=$(dpkg-deb -f "$deb" Recommends)
    for pkg in pci.ids usb.ids fonts-; do
        grep -qF "$pkg" <<<"$recommends" || fail "Recommends lacks $pkg: $recommends"
    done

    # The same files as the install tree; Debian wants manual pages and changelog compressed.
    local files bad
    files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' |
            sed -E 's#^(share/man/man1/velmora\.1|share/doc/velmora/changelog)\.gz$#\1#' | LC_ALL=C sort)
    [ "$files" = "$(expected_files)" ] ||
        fail "package files differ from the install tree:"$'\n'"$(diff <(expected_files) <(echo "$files"))"
    bad=$(dpkg-deb --contents "$deb" | awk '$2 != "root/root"')
    [ -z "$bad" ] || fail "files not owned by root:"$'\n'"$bad"

    local report
    report=$(lintian --fail-on error "$deb" 2>&1) ||
        fail "lintian reports errors:"$'\n'"$report"
    echo "lintian:"$'\n'"${report:-(nothing)}"
    echo "size: $(stat -c %s "$deb") bytes"
}

case $step in
    install) need cmake; check_install ;;
    tree) check_tree ;;
    window) check_window ;;
    window-inner) window_inner ;;
    deb) check_deb ;;
    *) fail "unknown step $step" ;;
esac
