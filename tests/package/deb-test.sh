#!/usr/bin/env bash
# The Debian package CPack makes from this build tree: its name and fields, dependencies found by
# dpkg-shlibdeps, no maintainer script (removing it leaves every user's settings and autostart
# entries alone), the tree under /usr, a copyright file and metainfo that state LICENSE's terms,
# and no error from lintian. Made from the tree as built, with no build of its own; it is left at
# BUILD_DIR/brimlow.deb for the login test.
#
#   deb-test.sh BUILD_DIR SOURCE_DIR VERSION LIBDIR BINDIR DATADIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/lib.sh"
# shellcheck disable=SC2034  # the directories are read by check_tree
build=$1 source_dir=$2 version=$3 LIBDIR=$4 BINDIR=$5 DATADIR=$6
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
need file file
need lintian lintian
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
need man man-db
make_work_dir

cpack --config "$build/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 || {
    cat "$WORK/cpack.log"
    echo "error: cpack failed"
    exit 1
}
deb="$WORK/out/brimlow_$version-1_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || {
    ls "$WORK/out"
    echo "error: cpack made no $deb"
    exit 1
}

check "Package" brimlow "$(dpkg-deb -f "$deb" Package)"
check "Version" "$version-1" "$(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
# The names alone, one a line.
depended=$(sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends")
# Each library the programs link, by the package that holds it on this release (names change
# between releases: libcurl4 became libcurl4t64).
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for soname in libc.so.6 libstdc++.so.6 libQt6Widgets.so.6 libQt6DBus.so.6 libcurl.so.4 \
    libXext.so.6 libXss.so.1 libXtst.so.6 libdbus-1.so.3 libexpat.so.1 libwayland-client.so.0; do
    library=$(dpkg-query -S "*/$multiarch/$soname" 2>/dev/null | sed -n '1s/[:,].*//p' || true)
    if [ -z "$library" ]; then
        fail "no installed package holds $soname"
    else
        grep -qxF "$library" <<<"$depended" || fail "Depends lacks $library ($soname): $depends"
    fi
done
check "Recommends" "qt6-wayland" "$(dpkg-deb -f "$deb" Recommends)"
check "Suggests" "gnome-shell-extension-appindicator" "$(dpkg-deb -f "$deb" Suggests)"
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E '(pre|post)(inst|rm)$|config$' || true)
check "maintainer scripts" "" "$scripts"

while IFS= read -r path; do
    case $path in
        ./ | ./usr/ | ./usr/*) ;;
        *) fail "packed outside /usr: $path" ;;
    esac
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t)

cp "$deb" "$build/brimlow.deb"
root="$WORK/root"
dpkg-deb -x "$deb" "$root"
check_tree /usr "$root"
check "the desktop entry runs the program from /usr" \
    "Exec=\"$(installed_dir "$LIBDIR" /usr)/brimlow/Brimlow.app/Contents/MacOS/Brimlow 2\"" \
    "$(exec_line "$root$(installed_dir "$DATADIR" /usr)/applications/com.pellvane.Brimlow2.desktop")"
# KWin offers its fake input only to a program whose installed entry, running that very
# executable, asks for it.
check "the desktop entry asks KWin for fake input" "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input" \
    "$(grep '^X-KDE-Wayland-Interfaces=' \
        "$root$(installed_dir "$DATADIR" /usr)/applications/com.pellvane.Brimlow2.desktop")"

# One licence everywhere: LICENSE, the copyright file, the metainfo.
doc="$root/usr/share/doc/brimlow"
license="$source_dir/LICENSE"
check "LICENSE is the MIT licence" "MIT License" "$(head -n1 "$license")"
check "the copyright file's holder and year" \
    "Copyright: $(sed -n 's/^Copyright (c) //p' "$license")" "$(grep '^Copyright: ' "$doc/copyright")"
check "the copyright file's terms" \
    "$(sed '1,/^Copyright (c) /d' "$license" | sed '/./,$!d')" \
    "$(awk '/^License: Expat$/ { terms = 1; next }
            terms && /^ / { line = substr($0, 2); print (line == "." ? "" : line); next }
            { terms = 0 }' "$doc/copyright")"
check "the metainfo's project licence" "<project_license>MIT</project_license>" \
    "$(grep -o '<project_license>.*</project_license>' \
        "$root$(installed_dir "$DATADIR" /usr)/metainfo/com.pellvane.Brimlow2.metainfo.xml")"
check "the changelog's entry" "brimlow ($version-1) unstable; urgency=medium" \
    "$(gzip -dc "$doc/changelog.Debian.gz" | head -n1)"

# Each command has its manual page, which man renders without a complaint.
for page in brimlow brimlow-config; do
    manual="$root/usr/share/man/man1/$page.1.gz"
    if [ ! -f "$manual" ]; then
        fail "no manual page $manual"
        continue
    fi
    rendered=$(MANWIDTH=80 man --warnings -l "$manual" 2>"$WORK/man.log") || fail "man -l $manual failed"
    check "man's complaints about $page(1)" "" "$(cat "$WORK/man.log")"
    grep -q "^NAME" <<<"$rendered" || fail "$page(1) rendered without a NAME section"
done

# Warnings are shown, not failed on: the accepted ones are listed in packaging/CMakeLists.txt.
lintian --fail-on error "$deb" >"$WORK/lintian.log" 2>&1 || fail "lintian found errors"
cat "$WORK/lintian.log"
check "lintian's manual page tags" "" "$(grep -E 'manual-page|manpage' "$WORK/lintian.log" || true)"

finish
