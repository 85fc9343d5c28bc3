# Debian packages the scripts need, and installing the missing ones.
# shellcheck shell=bash disable=SC2034  # the lists are for the scripts that source this

# What building the program takes (with the Wayland protocols it speaks, whose client code is
# generated at build time, and Qt's private headers, the only way to Qt's own Wayland surfaces),
# and Qt's Wayland platform plugin, which it loads at run time in a Wayland session.
BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-base-private-dev
    libx11-dev libx11-xcb-dev libxcb1-dev libxext-dev libxss-dev libxtst-dev
    libcurl4-openssl-dev libicu-dev libgtest-dev libgmock-dev libdbus-1-dev libexpat1-dev
    libwayland-dev wayland-protocols plasma-wayland-protocols qt6-wayland
)

# What running it on a virtual desktop takes (a machine without a display); Symbola draws the
# count label's circled i, which the few fonts of a bare machine lack. The tray host is trayer, or
# stalonetray in a release that no longer has trayer (Debian unstable).
HEADLESS_PACKAGES=(xvfb xauth "trayer|stalonetray" x11-utils dbus dbus-x11 fonts-symbola)

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
# mutter with Xwayland, KWin, sway and labwc (the last two run as nobody through util-linux's
# setpriv), and the RemoteDesktop portal with its GNOME and KDE backends, seen through a sandbox's
# bus proxy (KDE's draws its dialogs with Plasma's, which its package does not bring); MATE's and
# GNOME's screen savers, lock screens the program must leave alone, on Xorg's dummy driver, which
# unlike Xvfb has the colour gamma they fade the screen with; wlr-randr sizes labwc's output.
TEST_PACKAGES=(
    "${HEADLESS_PACKAGES[@]}"
    "${PACKAGE_PACKAGES[@]}"
    xdotool at-spi2-core desktop-file-utils openssl python3 imagemagick dex appstream
    libglib2.0-bin
    mutter xwayland kwin-wayland sway util-linux
    xdg-desktop-portal xdg-desktop-portal-gnome xdg-desktop-portal-kde plasma-workspace
    xdg-dbus-proxy
    mate-screensaver xserver-xorg-core xserver-xorg-video-dummy wlr-randr
)

# What only some releases have (set by release_test_packages): installed where the release has
# them, and their tests skip, saying so, elsewhere. GNOME's screen saver is gone from Debian
# unstable; labwc came with Debian 13. KDE's portal is a Qt 5 program in Debian 12, whose Plasma
# does not bring the Wayland platform and Kirigami it needs there; later ones are Qt 6 programs,
# which find both in what the build and Plasma install. Wayfire's tests need a DRM device as well
# (a GPU, or scripts/test-in --vm); Hyprland's, which came after Debian 13, a display of their own,
# taken through the seat daemon (scripts/test-in --vm).
RELEASE_TEST_PACKAGES=(
    gnome-screensaver labwc wayfire hyprland seatd qtwayland5 qml-module-org-kde-kirigami2
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

# Reads the package lists when apt has none yet (a fresh machine).
ensure_package_lists() {
    if [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -print -quit 2>/dev/null)" ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    fi
}

# Whether apt can install package $1 in this release. The output is read whole: grep -q in a
# pipe would exit at the match, and apt-cache, still writing, would fail the pipe (pipefail).
has_candidate() {
    grep -q '^ *Candidate: [^(]' <<<"$(apt-cache policy "$1" 2>/dev/null)"
}

# Sets FUZZ_PACKAGES for this machine's release.
fuzz_packages() {
    local version
    ensure_package_lists
    version=$(default_clang_version)
    if [ -z "$version" ]; then
        echo "error: apt names no clang-N that the clang package depends on" >&2
        return 1
    fi
    FUZZ_PACKAGES=(clang "clang-$version" "libclang-rt-$version-dev")
}

# Adds to TEST_PACKAGES those of RELEASE_TEST_PACKAGES that this machine's release has.
release_test_packages() {
    local package
    ensure_package_lists
    for package in "${RELEASE_TEST_PACKAGES[@]}"; do
        if has_candidate "$package"; then
            TEST_PACKAGES+=("$package")
        fi
    done
}

is_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

# Prints the arguments that dpkg has nothing of. An argument may name alternatives, as
# "a|b": it is there when any of them is installed.
missing_packages() {
    local entry package
    for entry in "$@"; do
        local -a alternatives
        IFS='|' read -ra alternatives <<<"$entry"
        for package in "${alternatives[@]}"; do
            is_installed "$package" && continue 2
        done
        echo "$entry"
    done
}

# The first of alternatives "a|b" that apt can install in this release; the first of all when
# none can, so that apt names it in its error.
installable_alternative() {
    local package
    local -a alternatives
    IFS='|' read -ra alternatives <<<"$1"
    for package in "${alternatives[@]}"; do
        if has_candidate "$package"; then
            echo "$package"
            return
        fi
    done
    echo "${alternatives[0]}"
}

# Installs those of the packages that are missing; does nothing when all are there.
install_missing() {
    local missing entry
    mapfile -t missing < <(missing_packages "$@")
    [ "${#missing[@]}" -eq 0 ] && return 0
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    local -a chosen=()
    for entry in "${missing[@]}"; do
        chosen+=("$(installable_alternative "$entry")")
    done
    echo "Installing ${chosen[*]}" >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${chosen[@]}"
}
