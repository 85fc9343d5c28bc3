# What the package tests share: counting failed checks, a work directory removed on exit, and
# installing the build tree.
# shellcheck shell=bash

failures=0

# Notes a failed check and goes on, so one run shows every fault.
fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

check() { # description expected actual
    [ "$2" = "$3" ] || fail "$1"$'\n'"  expected: $2"$'\n'"  actual:   $3"
}

# Ends the test: exit status 1 when any check failed.
finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "every check passed"
}

# Stops the test at once when command $1 is missing; $2 is the Debian package that has it.
need() {
    command -v "$1" >/dev/null 2>&1 || {
        echo "error: $1 is not installed (package $2; scripts/test installs it)"
        exit 1
    }
}

# Sets WORK to a fresh directory that goes when the test ends.
make_work_dir() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/brimlow-package-test.XXXXXX")
    trap 'rm -rf "$WORK"' EXIT
}

# A prefix with a blank and the characters that quoting and field codes treat specially.
special_prefix() {
    printf '%s' "$WORK/pre fix 'q' \$HOME %u \"d\" \`b\` ;s"
}

# Installs build tree $1 under prefix $2, staged under DESTDIR $3 if given; the output goes to
# $WORK/install.log.
install_tree() { # build prefix [destdir]
    DESTDIR=${3:-} cmake --install "$1" --prefix "$2" >"$WORK/install.log" 2>&1 || {
        cat "$WORK/install.log"
        echo "error: cmake --install failed"
        exit 1
    }
}

# Prints install directory $1 (a CMAKE_INSTALL_<dir> value) as the absolute path install()
# gives it under prefix $2.
installed_dir() { # dir prefix
    case $1 in
        /*) printf '%s' "$1" ;;
        *) printf '%s/%s' "$2" "$1" ;;
    esac
}

# Checks the tree installed for prefix $1 and found under directory $2 (empty, or DESTDIR or
# where a package was unpacked), with the install directories LIBDIR, BINDIR and DATADIR: the
# bundle with its launcher, the brimlow command as a relative link to its program, and a valid desktop entry,
# metainfo and icon.
check_tree() { # prefix root
    local prefix=$1 root=$2 bundle program launcher link share entry metainfo
    bundle="$root$(installed_dir "$LIBDIR" "$prefix")/brimlow/Brimlow.app"
    program="$bundle/Contents/MacOS/Brimlow 2"
    if [ ! -x "$program" ] || [ -L "$program" ]; then
        fail "no program at $program"
    fi
    [ -f "$bundle/Contents/Info.plist" ] || fail "no Info.plist in $bundle"
    [ -f "$bundle/Contents/Resources/icons/trayicon-22.png" ] || fail "no tray icons in $bundle"
    [ -x "$bundle/Contents/Helpers/brimlow-request" ] || fail "no request helper in $bundle"
    launcher="$bundle/Contents/Library/LoginItems/BrimlowLauncher.app/Contents"
    [ -x "$launcher/MacOS/BrimlowLauncher" ] || fail "no launcher in $launcher"
    grep -q '<string>com.pellvane.BrimlowLauncher2</string>' "$launcher/Info.plist" ||
        fail "no launcher identifier in $launcher/Info.plist"

    link="$root$(installed_dir "$BINDIR" "$prefix")/brimlow"
    if [ ! -L "$link" ]; then
        fail "no link at $link"
    else
        case $(readlink "$link") in
            /*) fail "the link is absolute, so it breaks once the tree moves: $(readlink "$link")" ;;
        esac
        check "$link resolves to the program" "$(realpath -e "$program" 2>&1)" \
            "$(realpath -e "$link" 2>&1)"
    fi

    share="$root$(installed_dir "$DATADIR" "$prefix")"
    entry="$share/applications/com.pellvane.Brimlow2.desktop"
    metainfo="$share/metainfo/com.pellvane.Brimlow2.metainfo.xml"
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
    appstreamcli validate --no-net "$metainfo" >"$WORK/appstream.log" 2>&1 || {
        cat "$WORK/appstream.log"
        fail "appstreamcli rejects $metainfo"
    }
    [ -f "$share/icons/hicolor/scalable/apps/com.pellvane.Brimlow2.svg" ] || fail "no icon in $share"
    [ -f "$share/man/man1/brimlow.1.gz" ] || fail "no manual page in $share/man/man1"
}

# Prints the Exec line of desktop entry $1.
exec_line() {
    grep '^Exec=' "$1" || true
}
