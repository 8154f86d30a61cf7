#!/usr/bin/env bash
# Installs the Debian packages KOMA needs that are not there yet.
#   tools/install-deps.sh          what building and playing need
#   tools/install-deps.sh --tests  also every program the tests and their scripts run
#     (CPack's Debian generator calls `file`, the package check calls lintian, the
#     real-window tests run openbox as a window manager)
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-qpa-plugins qt6-wayland libxcb1-dev
    libsdl2-mixer-dev libfluidsynth-dev timgm6mb-soundfont
    fonts-ipafont-gothic
)
if [[ "${1:-}" == "--tests" ]]; then
    packages+=(
        libgtest-dev libgmock-dev libbenchmark-dev
        xvfb xdotool x11-utils imagemagick openbox mutter
        desktop-file-utils appstream dpkg-dev fakeroot file lintian
        pulseaudio pulseaudio-utils pipewire wireplumber pipewire-pulse dbus-daemon
    )
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
as_root=()
if [[ "$(id -u)" != 0 ]]; then
    as_root=(sudo)
fi
"${as_root[@]}" apt-get update
# Through env: sudo would drop the variable from the caller's environment.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
