#!/usr/bin/env bash
# `cmake --install` puts the whole tree, the brimlow command's link included, under the prefix
# given at install time, whatever characters it holds, and under DESTDIR when one is set.
#
#   install-tree-test.sh BUILD_DIR LIBDIR BINDIR DATADIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/lib.sh"
# shellcheck disable=SC2034  # the directories are read by check_tree
build=$1 LIBDIR=$2 BINDIR=$3 DATADIR=$4
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
make_work_dir

# Checks that each file the last install reported lies under directory $1.
check_all_under() {
    local path
    while IFS= read -r path; do
        case $path in
            "$1"/*) ;;
            *) fail "installed outside $1: $path" ;;
        esac
    done < <(sed -n 's/^-- \(Installing\|Up-to-date\): //p' "$WORK/install.log")
    grep -q '^-- Installing: ' "$WORK/install.log" || fail "the install reported no file"
}

prefix=$(special_prefix)
install_tree "$build" "$prefix"
check_all_under "$prefix"
check_tree "$prefix" ""

# Staged as a package build stages it: files under DESTDIR, the paths they hold under the prefix.
stage="$WORK/stage dir"
install_tree "$build" /usr "$stage"
check_all_under "$stage/usr"
check_tree /usr "$stage"
check "the staged desktop entry runs the program from /usr" \
    "Exec=\"$(installed_dir "$LIBDIR" /usr)/brimlow/Brimlow.app/Contents/MacOS/Brimlow 2\"" \
    "$(exec_line "$stage$(installed_dir "$DATADIR" /usr)/applications/com.pellvane.Brimlow2.desktop")"

finish
