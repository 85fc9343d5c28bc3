# Debian packages the scripts need, and installing the missing ones.
# shellcheck shell=bash disable=SC2034  # the lists are for the scripts that source this

# What building the program takes (with the Wayland protocols it speaks, whose client code is
# generated at build time), and Qt's Wayland platform plugin, which it loads at run time in a
# Wayland session.
BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools
    libx11-dev libx11-xcb-dev libxcb1-dev libxss-dev libxtst-dev
    libcurl4-openssl-dev libicu-dev libgtest-dev libgmock-dev libdbus-1-dev libexpat1-dev
    libwayland-dev wayland-protocols plasma-wayland-protocols qt6-wayland
)

# What running it on a virtual desktop takes (a machine without a display); Symbola draws the
# count label's circled i, which the few fonts of a bare machine lack.
HEADLESS_PACKAGES=(xvfb xauth trayer x11-utils dbus dbus-x11 fonts-symbola)

# What packing the Debian package takes: CPack finds the packages of the shared libraries the
# programs use with dpkg-shlibdeps (dpkg-dev), on the files that `file` says are ELF; lintian
# checks the result, and man renders its manual pages.
PACKAGE_PACKAGES=(dpkg-dev file lintian man-db)

# What the fuzz targets are built with (set by fuzz_packages): the release's own clang, which
# the fuzz preset names, with the libFuzzer and sanitizer runtimes of its version.
FUZZ_PACKAGES=()

# What the tests take besides: X tools, the accessibility bus the tray test reads the tooltip
# from, desktop-entry checks, a CA and a server for the HTTPS tests, screenshots, dex to run the
# autostart entries as a session does at login; for the package tests, packing, metainfo checks
# and gio to start the program from its installed desktop entry; for the Wayland tests, headless
# mutter with Xwayland, KWin and sway (run as nobody through util-linux's setpriv), and the
# RemoteDesktop portal with its GNOME backend, seen through a sandbox's bus proxy; MATE's and
# GNOME's screen savers, lock screens the program must leave alone, on Xorg's dummy driver, which
# unlike Xvfb has the colour gamma they fade the screen with.
TEST_PACKAGES=(
    "${HEADLESS_PACKAGES[@]}"
    "${PACKAGE_PACKAGES[@]}"
    xdotool at-spi2-core desktop-file-utils openssl python3 imagemagick dex appstream
    libglib2.0-bin
    mutter xwayland kwin-wayland sway util-linux
    xdg-desktop-portal xdg-desktop-portal-gnome xdg-dbus-proxy
    mate-screensaver gnome-screensaver xserver-xorg-core xserver-xorg-video-dummy
)

# Runs a command as root: directly when we are root, else through sudo.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "error: installing packages needs root or sudo: $*" >&2
        return 1
    fi
}

# The N of the clang-N that Debian's clang package depends on in this machine's release.
default_clang_version() {
    apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' |
        head -n1
}

# Sets FUZZ_PACKAGES for this machine's release, reading the package lists first when apt has
# none yet (a fresh machine).
fuzz_packages() {
    local version
    version=$(default_clang_version)
    if [ -z "$version" ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
        version=$(default_clang_version)
    fi
    if [ -z "$version" ]; then
        echo "error: apt names no clang-N that the clang package depends on" >&2
        return 1
    fi
    FUZZ_PACKAGES=(clang "clang-$version" "libclang-rt-$version-dev")
}

# Prints the packages of the arguments that dpkg does not have installed.
missing_packages() {
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed; then
            echo "$package"
        fi
    done
}

# Installs those of the packages that are missing; does nothing when all are there.
install_missing() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ "${#missing[@]}" -eq 0 ] && return 0
    echo "Installing ${missing[*]}" >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}
