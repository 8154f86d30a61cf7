#!/usr/bin/env bash
# Installs the Debian packages KOMA needs that are not there yet, from the package's own lists:
#   tools/install-deps.sh          building (debian/control's Build-Depends, less the tests'
#                                  <!nocheck> ones) and playing (the game's Depends)
#   tools/install-deps.sh --tests  also the tests' build dependencies, the autopkgtests'
#                                  Depends (debian/tests/control) and the developer tests below
set -euo pipefail
cd "$(dirname "$0")/.."

# What ./check.sh's own tests run beyond the package build's tests and the autopkgtests: the
# benchmarks, the window-manager and sound-server tests, the install check. A program a new
# test needs goes here, unless the package build's tests (debian/control, <!nocheck>) or an
# autopkgtest (debian/tests/control) run it too.
developer_tests=(
    libbenchmark-dev
    openbox mutter
    pulseaudio pulseaudio-utils
    pipewire wireplumber pipewire-pulse dbus-daemon
    desktop-file-utils appstream lintian
)

# The packages named in FIELD of the paragraphs of a control FILE that have a Package, Source
# or Tests field matching PARAGRAPH: plain names, without versions, architectures, profiles,
# alternatives and substitutions.
field_packages() {
    local file=$1 paragraph=$2 field=$3
    awk -v paragraph="^(Package|Source|Tests): *($paragraph)\$" -v field="$field" '
        /^#/ { next }
        /^$/ { chosen = 0; infield = 0; next }
        $0 ~ paragraph { chosen = 1 }
        /^[^ \t]/ { infield = (tolower($0) ~ "^" tolower(field) ":") }
        infield && chosen { sub("^" field ":", ""); print }
    ' "$file" | tr ',' '\n' | sed -e 's/|.*//' -e 's/[([<].*//' -e 's/[[:space:]]//g' |
        grep -v -e '^$' -e '^\$' -e '^@' || true
}

tests=0
[[ "${1:-}" == "--tests" ]] && tests=1
profile=()
((tests)) || profile=(-P nocheck)
packages=($(field_packages debian/control koma Depends))
if ((tests)); then
    # Less the game's own package, which they test once it is installed.
    packages+=($(field_packages debian/tests/control '.*' Depends |
                 grep -vxF -f <(sed -n 's/^Package: *//p' debian/control))
               "${developer_tests[@]}")
fi

# Build dependencies are met when dpkg-checkbuilddeps (dpkg-dev) says so.
build_deps_met=0
if command -v dpkg-checkbuilddeps >/dev/null && dpkg-checkbuilddeps "${profile[@]}" 2>/dev/null; then
    build_deps_met=1
fi
missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if ((build_deps_met && ${#missing[@]} == 0)); then
    exit 0
fi

((build_deps_met)) || echo "Installing the build dependencies (debian/control)"
((${#missing[@]} == 0)) || echo "Installing: ${missing[*]}"
as_root=()
if [[ "$(id -u)" != 0 ]]; then
    as_root=(sudo)
fi
# Through env: sudo would drop the variable from the caller's environment.
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y --no-install-recommends)
"${as_root[@]}" apt-get update
((build_deps_met)) || "${apt[@]}" "${profile[@]}" build-dep ./
((${#missing[@]} == 0)) || "${apt[@]}" install "${missing[@]}"
