#!/usr/bin/env bash
# The login as a user of the package has it: the package unpacked (under a folder with a blank,
# as dex must cope with), then the end-to-end login test run against the unpacked program:
# started once, it registers its launcher; dex --autostart then starts the launcher, which starts
# Brimlow, which ends it.
#
#   login-test.sh DEB E2E_TESTS
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/lib.sh"
deb=$1 e2e=$2
need dpkg-deb dpkg
need dex dex
make_work_dir

root="$WORK/install root"
dpkg-deb -x "$deb" "$root"
BRIMLOW_E2E_PROGRAM="$root/usr/lib/brimlow/Brimlow.app/Contents/MacOS/Brimlow 2" \
    "$e2e" --gtest_filter='Login.TheLauncher*'
