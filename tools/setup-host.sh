#!/bin/sh
# Installs what building and testing need on a Debian 12 host, when it is missing.
# After the first run everything works offline.
#   setup-host.sh [--vnc] [--shots]   also what tools/configparvel.sh needs without a display (--vnc),
#                                     and what tools/screenshots.sh needs (--shots)
#
# The demo and the test commands both run this first, possibly at the same time: one run at a time
# holds our own lock file, so the second one waits and then finds everything installed; apt-get
# itself waits for the package manager's lock held by anything else (unattended upgrades).
set -eu
lock="${TMPDIR:-/tmp}/parvel-setup-host.lock"
if [ -z "${PARVEL_SETUP_LOCKED:-}" ] && command -v flock >/dev/null 2>&1; then
    PARVEL_SETUP_LOCKED=1 exec flock "$lock" sh "$0" "$@"
fi
apt_wait="-o DPkg::Lock::Timeout=600"
# Packages are installed as root: directly when this runs as root, otherwise through sudo. With
# neither, stop and say what to install, rather than fail on a missing sudo.
as_root() {
    if [ "$(id -u)" = 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "setup-host: installing$what needs root: run this as root, or install sudo, or install these packages as root first:$packages" >&2
        exit 1
    fi
}
need=""
have() { command -v "$1" >/dev/null 2>&1; }
have x86_64-w64-mingw32-g++-posix || need="$need g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev"
have wine || need="$need wine wine64"
have cmake || need="$need cmake"
have ninja || need="$need ninja-build"
have xvfb-run || need="$need xvfb xauth"
have python3 || need="$need python3"
have cc || need="$need gcc libc6-dev"
have flock || need="$need util-linux"
[ -f /usr/src/googletest/CMakeLists.txt ] || need="$need googletest"
have locale-gen || need="$need locales"
# The help files: chmcmd compiles them, extract_chmLib reads them back for the build and its tests.
have chmcmd || need="$need fp-utils"
have extract_chmLib || need="$need libchm-bin"
for extra in "$@"; do
    case $extra in
    # tools/configparvel.sh on a machine without a display shows the program through a VNC server.
    --vnc) have x11vnc || need="$need x11vnc" ;;
    # tools/screenshots.sh stops the clock of the programs it pictures.
    --shots) have faketime || need="$need faketime" ;;
    esac
done
if [ -n "$need" ]; then
    what=""
    packages=$need
    echo "Installing:$need"
    as_root apt-get $apt_wait update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get $apt_wait install -y --no-install-recommends $need
fi
# Russian-locale runs of Wine need the locale on the host.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$'; then
    what=" the ru_RU.UTF-8 locale"
    packages=" (none: add the line 'ru_RU.UTF-8 UTF-8' to /etc/locale.gen and run locale-gen)"
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ru_RU.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi
