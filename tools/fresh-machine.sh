#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Proves on a machine that has never seen KOMA, a minimal Debian root (debootstrap
# --variant=minbase, plus sudo as a desktop system has it) with no LANG or LC_* at all (the
# POSIX locale of a container), what a newcomer and a distribution do with this checkout's
# tracked files:
#
#   tools/fresh-machine.sh SUITE        the README's two commands, each in its own copy:
#     1. ./play.sh, as a new normal user who has sudo, on the root as it came, so that it
#        installs what the game needs itself; under a private Xvfb it must bring up exactly one
#        window titled "KOMA", the game's own (no error box: the sound files were found, and no
#        sound card is needed until sound is switched on), within the time limit, with no sound
#        library loaded (they come with the sound module, when sound is switched on);
#     2. ./check.sh, as root (as CI runs it), must pass.
#   tools/fresh-machine.sh --package SUITE    the Debian package, in a root of its own:
#     1. only build-essential and dpkg-dev installed, then debian/control's Build-Depends
#        (apt-get build-dep);
#     2. the source and binary packages built by the normal user (dpkg-buildpackage, with
#        the build-time tests);
#     3. lintian --pedantic on the .changes: no error or warning but the placeholder
#        maintainer address;
#     4. the .deb installed with apt without its Recommends, and the autopkgtests run against
#        it (autopkgtest -- null); before and after them, Qt's Wayland plugin (recommended)
#        must be absent, and the game on a desktop with Wayland alone must say so in one line;
#     5. the binary packages built again from the source package by another user, in another
#        folder, time of day (faketime), time zone, locale and umask, without the tests: the
#        .deb files must be the same bytes; hardening-check on the game and its module.
#   tools/fresh-machine.sh --and-package SUITE    CI's run: the two commands, then, in the
#     same root, steps 2 to 4 with the dependencies ./check.sh installed and without the
#     build-time tests, which ./check.sh has just run there on the same source.
#
#   (as root, on a Debian host; SUITE is bookworm or trixie)
#
# The pristine root is made once per suite and kept in KOMA_FRESH_CACHE (default
# /var/cache/koma-fresh-machine), with the downloaded .debs; every run works on a throw-away
# copy, which is unmounted and removed on every way out. bookworm uses the host's apt sources,
# trixie the Debian archive that debootstrap writes. The package runs keep their packages and
# reports in the cache's $SUITE/package folder.
#
# The last line sums up: suite, each step's exit status and time.
set -euo pipefail

mode=commands
case "${1:-}" in
--package) mode=package; shift ;;
--and-package) mode=both; shift ;;
esac
suite=${1:-}
if [[ "$suite" != bookworm && "$suite" != trixie ]]; then
    echo "usage: $0 [--package|--and-package] bookworm|trixie" >&2
    exit 2
fi
if [[ "$(id -u)" != 0 ]]; then
    echo "$0: needs root (debootstrap, chroot and mounts)" >&2
    exit 2
fi
checkout=$(cd "$(dirname "$0")/.." && pwd)
cache=${KOMA_FRESH_CACHE:-/var/cache/koma-fresh-machine}
mirror=http://deb.debian.org/debian
test_limit=${KOMA_FRESH_TEST_LIMIT:-2400}  # seconds for ./check.sh: installs, builds, tests
play_limit=${KOMA_FRESH_PLAY_LIMIT:-1800}  # seconds for ./play.sh: installs, builds, window
package_limit=${KOMA_FRESH_PACKAGE_LIMIT:-3600}  # seconds for each step of the package's
user=player
rebuilder=rebuilder

log() { echo "fresh-machine $suite: $*"; }

# Host tools: debootstrap for the root, Xvfb and xdotool for the window check, hardening-check.
host_missing=()
command -v debootstrap >/dev/null || [[ -x /usr/sbin/debootstrap ]] || host_missing+=(debootstrap)
command -v Xvfb >/dev/null || host_missing+=(xvfb)
command -v xdotool >/dev/null || host_missing+=(xdotool)
[[ "$mode" == commands ]] || command -v hardening-check >/dev/null || host_missing+=(devscripts)
if ((${#host_missing[@]})); then
    log "installing on the host: ${host_missing[*]}"
    apt-get update >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${host_missing[@]}" >/dev/null
fi
export PATH=$PATH:/usr/sbin:/sbin

base=$cache/$suite/root
archives=$cache/$suite/archives
mkdir -p "$cache/$suite" "$archives/partial"
if [[ ! -x "$base/bin/bash" || ! -x "$base/usr/bin/sudo" ]]; then
    log "making the minimal root in $base"
    rm -rf "$base" "$base.partial"
    debootstrap --variant=minbase --include=sudo "$suite" "$base.partial" "$mirror" \
        >"$cache/$suite/debootstrap.log" 2>&1 || { tail -n 20 "$cache/$suite/debootstrap.log"; exit 1; }
    mv "$base.partial" "$base"
fi

work=$(mktemp -d "$cache/run.XXXXXX")
root=$work/root
xvfb_pid=
play_pid=
cleanup() {
    local status=$?
    set +e
    [[ -n "$play_pid" ]] && kill -- "-$play_pid" 2>/dev/null
    # Whatever still runs inside the copy (a test's Xvfb, a daemon apt started) keeps it busy.
    local proc
    for proc in /proc/[0-9]*; do
        [[ "$(readlink "$proc/root" 2>/dev/null)" == "$root" ]] && kill -9 "${proc#/proc/}" 2>/dev/null
    done
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
    sleep 0.5
    local target
    for target in "$root"/tmp/.X11-unix/X* "$root"/{var/cache/apt/archives,sys,proc,dev}; do
        mountpoint -q "$target" 2>/dev/null && umount -R -l "$target"
    done
    # Never remove while anything is still mounted under the copy: that would reach the host.
    if findmnt -rn -o TARGET | grep -q "^$work"; then
        echo "fresh-machine $suite: mounts remain under $work; not removing it" >&2
    else
        rm -rf --one-file-system "$work"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log "copying the root and the checkout"
cp -a "$base" "$root"
# The checkout's tracked files into FOLDER of the root, as a clone has them.
copy_checkout() {
    mkdir -p "$root$1"
    git -C "$checkout" ls-files -z | tar -C "$checkout" --null -T - -cf - | tar -C "$root$1" -xf -
}
# A new user of the sudo group, who clones into the home folder. The sudo rule stands for the
# password the user would type.
chroot "$root" useradd --create-home --shell /bin/bash --groups sudo "$user"
printf '%s ALL=(ALL:ALL) NOPASSWD: ALL\n' "$user" >"$root/etc/sudoers.d/fresh-machine"
chmod 440 "$root/etc/sudoers.d/fresh-machine"
if [[ "$mode" != package ]]; then
    copy_checkout /root/koma
    copy_checkout "/home/$user/koma"
fi
# The packages are built in a folder named as dpkg-source names the source's, koma-VERSION.
upstream_version=$(cd "$checkout" && dpkg-parsechangelog -S Version | sed 's/-[^-]*$//')
source_dir=/home/$user/pkg/koma-$upstream_version
if [[ "$mode" != commands ]]; then
    copy_checkout "$source_dir"
    # The second build's user: no sudo, nothing of the first's.
    chroot "$root" useradd --create-home --shell /bin/bash "$rebuilder"
fi
chroot "$root" chown -R "$user:$user" "/home/$user"

cp /etc/resolv.conf "$root/etc/resolv.conf"
if [[ "$suite" == bookworm ]]; then
    # The host's own sources and proxy settings for bookworm.
    rm -f "$root/etc/apt/sources.list"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        if [[ -f "$file" ]] && grep -q bookworm "$file"; then
            cp "$file" "$root$file"
        fi
    done
fi
for file in /etc/apt/apt.conf /etc/apt/apt.conf.d/*; do
    if [[ -f "$file" ]] && grep -q -i 'proxy' "$file"; then
        cp "$file" "$root$file"
    fi
done
# No daemon starts inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
mount --bind "$archives" "$root/var/cache/apt/archives"

# Clean environments, as new logins have: no locale at all.
login_env=(TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
           ${http_proxy:+http_proxy=$http_proxy} ${https_proxy:+https_proxy=$https_proxy})
root_env=(HOME=/root USER=root LOGNAME=root "${login_env[@]}")
user_env=("HOME=/home/$user" "USER=$user" "LOGNAME=$user" "${login_env[@]}")
# A user of the root for chroot: by number, as the root's own user database has them.
ids_of() {
    echo "--userspec=$(chroot "$root" id -u "$1"):$(chroot "$root" id -g "$1")" \
        "--groups=$(chroot "$root" id -G "$1" | tr ' ' ,)"
}
user_ids=($(ids_of "$user"))

run_commands() {
    local start windows geometry game_pid
    # The README's commands --------------------------------------------------------------------
    # 1. The play command, as the new user, in a private X server on the host whose socket the
    #    root sees ---------------------------------------------------------------------------------
    log "./play.sh as $user under Xvfb (log: $work/play.log while it runs)"
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
    display=$(head -n 1 "$work/display")
    mkdir -p "$root/tmp/.X11-unix"
    touch "$root/tmp/.X11-unix/X$display"
    mount --bind "/tmp/.X11-unix/X$display" "$root/tmp/.X11-unix/X$display"

    start=$SECONDS
    play_status=0
    setsid chroot "${user_ids[@]}" "$root" /usr/bin/env -i "${user_env[@]}" DISPLAY=":$display" \
        bash -c 'cd ~/koma && exec ./play.sh' >"$work/play.log" 2>&1 &
    play_pid=$!
    windows=
    while ((SECONDS - start < play_limit)); do
        windows=$(DISPLAY=":$display" xdotool search --onlyvisible --name '^KOMA$' 2>/dev/null || true)
        [[ -n "$windows" ]] && break
        kill -0 "$play_pid" 2>/dev/null || break
        sleep 0.5
    done
    play_time=$((SECONDS - start))
    if [[ -z "$windows" ]]; then
        if kill -0 "$play_pid" 2>/dev/null; then
            play_status=124
            log "no window titled KOMA appeared in $play_limit s"
        else
            wait "$play_pid" 2>/dev/null || play_status=$?
            ((play_status != 0)) || play_status=1
            log "no window titled KOMA appeared"
        fi
        tail -n 30 "$work/play.log"
    else
        sleep 2  # an error box would stand beside the game's window by now
        windows=$(DISPLAY=":$display" xdotool search --onlyvisible --name '^KOMA$' 2>/dev/null || true)
        geometry=$(DISPLAY=":$display" xdotool getwindowgeometry "$(head -n 1 <<<"$windows")" |
            sed -n 's/ *Geometry: //p')
        if [[ $(wc -l <<<"$windows") != 1 || "$geometry" != 476x466 ]]; then
            play_status=1
            log "expected the game's window alone, found $(wc -l <<<"$windows") ($geometry)"
            tail -n 30 "$work/play.log"
        elif ! kill -0 "$play_pid" 2>/dev/null; then
            play_status=1
            log "the game ended by itself"
        else
            game_pid=$(DISPLAY=":$display" xdotool getwindowpid "$(head -n 1 <<<"$windows")" 2>/dev/null || true)
            if [[ -z "$game_pid" ]] || grep -qE 'libSDL2|libfluidsynth' "/proc/$game_pid/maps"; then
                play_status=1
                log "the game loaded sound libraries with sound off (or its process was not found)"
            else
                log "one window titled KOMA, $geometry, no sound library loaded"
            fi
        fi
    fi
    # The game and its X server are done with.
    kill -- "-$play_pid" 2>/dev/null || true
    wait "$play_pid" 2>/dev/null || true
    play_pid=
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=

    # 2. The test command, as root, in its own copy of the checkout -------------------------------
    log "./check.sh as root (log: $work/check.log while it runs)"
    start=$SECONDS
    test_status=0
    # In the background, so that an interrupt runs the clean-up at once rather than after the run.
    chroot "$root" /usr/bin/env -i "${root_env[@]}" timeout "$test_limit" \
        bash -c 'cd /root/koma && ./check.sh' >"$work/check.log" 2>&1 &
    wait $! || test_status=$?
    test_time=$((SECONDS - start))
    grep -E 'tests passed|tests failed' "$work/check.log" | tail -n 1 || true
    if ((test_status != 0)); then
        tail -n 40 "$work/check.log"
    fi
    summary+=("./check.sh exit $test_status in ${test_time} s"
              "./play.sh exit $play_status (window KOMA) in ${play_time} s")
    ((test_status == 0 && play_status == 0)) || failed=1
}

# The package --------------------------------------------------------------------------------
results=$cache/$suite/package
version=$(cd "$checkout" && dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
packages=/home/$user/pkg

# Runs COMMAND with bash in the root as AS (root or one of its users) in a clean login
# environment plus the VARIABLE=VALUE settings that follow, its output added to LOG.
in_root() {
    local as=$1 log=$2 command=$3
    shift 3
    local ids=() env=(HOME=/root USER=root LOGNAME=root)
    if [[ "$as" != root ]]; then
        ids=($(ids_of "$as"))
        env=("HOME=/home/$as" "USER=$as" "LOGNAME=$as")
    fi
    # In the background, so that an interrupt runs the clean-up at once rather than after it.
    chroot "${ids[@]}" "$root" /usr/bin/env -i "${env[@]}" "${login_env[@]}" "$@" \
        timeout "$package_limit" bash -c "$command" >>"$log" 2>&1 &
    wait $!
}
apt_get="DEBIAN_FRONTEND=noninteractive apt-get -y --no-install-recommends"

# Runs the step named NAME, a function that returns how it went, with its log in the results;
# times it, and ends the package's steps when it fails.
step() {
    local name=$1 function=$2
    log "$name (log: $results/$function.log)"
    local start=$SECONDS status=0
    "$function" "$results/$function.log" || status=$?
    summary+=("$name exit $status in $((SECONDS - start)) s")
    if ((status != 0)); then
        tail -n 40 "$results/$function.log"
        failed=1
        return 1
    fi
}

build_dependencies() {
    in_root root "$1" "apt-get update && $apt_get install build-essential dpkg-dev &&
                       cd $source_dir && $apt_get build-dep ./"
}
# Without the tests when KOMA_NOCHECK is set (CI's run, after ./check.sh).
source_and_binary() {
    in_root "$user" "$1" "cd $source_dir && packaging/orig-tarball.sh && dpkg-buildpackage -us -uc" \
        ${KOMA_NOCHECK:+DEB_BUILD_OPTIONS=nocheck} || return
    find "$root$packages" -maxdepth 1 -type f -name 'koma*' -exec cp -t "$results" {} +
}
lintian_on_changes() {
    in_root root "$1" "$apt_get install lintian" || return
    # With the overridden tags shown too (O:), so that nothing passes unseen.
    in_root "$user" "$results/lintian.txt" \
        "lintian --pedantic --show-overrides $packages/koma_${version}_$arch.changes" || true
    cat "$results/lintian.txt" >>"$1"
    # The placeholder maintainer address is for whoever maintains the package to set.
    ! grep -E '^[EW]: ' "$results/lintian.txt" |
        grep -vE ' (bogus-mail-host|mail-address-loops-or-bounces) '
}
# After ./check.sh (CI's run) the real-window tests it has built are used again. The package's
# Recommends are left out, as apt --no-install-recommends does, Qt's Wayland plugin with them:
# the autopkgtests' windows open without it, and on a desktop with Wayland alone the game says
# in one line what is missing.
install_and_autopkgtest() {
    local reuse=
    [[ "$mode" == both ]] && reuse="--env=KOMA_TEST_BUILD=/root/koma/build/release"
    in_root root "$1" "$apt_get install $packages/koma_${version}_$arch.deb autopkgtest" &&
        without_wayland_plugin "$1" || return
    in_root root "$1" "autopkgtest -B $reuse $packages/koma_${version}_$arch.deb \
                           $packages/koma_$version.dsc -- null" ||
        { summarise_autopkgtest "$1"; return 1; }
    summarise_autopkgtest "$1"
    without_wayland_plugin "$1"
}
# Qt's Wayland plugin is not installed, and the installed game, started by the user where a
# Wayland display answers (a bare listening socket) and no X server, ends with status 1 and one
# line that names the package.
without_wayland_plugin() {
    in_root "$user" "$1" '
        if dpkg-query -W -f="\${db:Status-Status}" qt6-wayland 2>/dev/null | grep -qx installed; then
            echo "qt6-wayland is installed"; exit 1
        fi
        echo "qt6-wayland is not installed"
        runtime=$(mktemp -d)
        perl -MIO::Socket::UNIX -e "my \$s = IO::Socket::UNIX->new(Local => shift, Listen => 1) or die \$!;
                                           sleep 60" "$runtime/wayland-0" &
        for _ in $(seq 50); do [ -S "$runtime/wayland-0" ] && break; sleep 0.1; done
        status=0
        said=$(cd "$runtime" && XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-0 \
            timeout 60 /usr/games/koma 2>&1) || status=$?
        kill $! 2>/dev/null
        echo "Wayland alone: status $status, said: $said"
        [ "$status" = 1 ] && [ "$(printf "%s\n" "$said" | wc -l)" = 1 ] &&
            printf "%s\n" "$said" | grep -q "qt6-wayland"'
}
summarise_autopkgtest() {
    # The lines between autopkgtest's "@@@ summary" line and its next line of its own.
    awk '/^autopkgtest \[/ { on = / @+ summary$/; next } on' "$1" >"$results/autopkgtest-summary.txt"
    cat "$results/autopkgtest-summary.txt"
}
# As another user, from the source package, in another folder, a day and seven hours later, 14
# hours east of UTC, in Japanese, with umask 002, without the tests.
rebuild_varied() {
    local folder=/srv/rebuild/in/another/folder
    in_root root "$1" "$apt_get install faketime locales && localedef -i ja_JP -c -f UTF-8 ja_JP.UTF-8 &&
                       mkdir -p $folder && cp $packages/koma_$version.dsc $packages/koma_*.tar.* $folder/ &&
                       chown -R $rebuilder: /srv/rebuild" || return
    in_root "$rebuilder" "$1" "umask 002 && cd $folder && dpkg-source -x koma_$version.dsc koma &&
                               cd koma && faketime -f +31h bash -c 'echo \$(id -un) in \$PWD, \
                                   umask \$(umask), TZ=\$TZ, LC_ALL=\$LC_ALL, \$(date)' &&
                               faketime -f +31h dpkg-buildpackage -us -uc -b" \
        TZ=XST-14 LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 DEB_BUILD_OPTIONS=nocheck || return
    (cd "$root$packages" && sha256sum koma*.deb) | tee "$results/sha256sums"
    (cd "$root$folder" && sha256sum koma*.deb) | tee "$results/sha256sums.rebuilt"
    cmp "$results/sha256sums" "$results/sha256sums.rebuilt"
}
# On the host, whose hardening-check reads the root's binaries: the game passes; the module
# passes but for Fortify Source, which needs calls whose sizes the compiler knows.
hardening() {
    local unpacked=$work/unpacked
    dpkg-deb -x "$results/koma_${version}_$arch.deb" "$unpacked"
    local game=$unpacked/usr/libexec/koma/koma module
    module=$(ls "$unpacked"/usr/lib/*/koma/koma-sound.so)
    hardening-check "$game" "$module" | tee "$results/hardening-check.txt" || true
    hardening-check "$game" >/dev/null && hardening-check --nofortify "$module" >/dev/null || return
    # Its stack-clash check looks for a probe sequence that GCC 12 and 14 do not emit (they probe
    # a frame over a page in a loop of their own), so it says "unknown"; the flags every part was
    # compiled with are in the debug symbols.
    dpkg-deb -x "$results/koma-dbgsym_${version}_$arch.deb" "$unpacked"
    local producers
    producers=$(find "$unpacked/usr/lib/debug" -type f -exec readelf -z -p .debug_str {} + 2>/dev/null |
        grep -o 'GNU C++.*' | sort -u)
    tee -a "$results/hardening-check.txt" <<<"$producers"
    ! grep -v -e '-fstack-clash-protection.*-fcf-protection' <<<"$producers"
}

run_package() {
    rm -rf "$results"
    mkdir -p "$results"
    if [[ "$mode" == package ]]; then
        step "1. the build dependencies" build_dependencies || return
    fi
    step "2. source and binary packages as $user${KOMA_NOCHECK:+ (nocheck)}" source_and_binary || return
    step "3. lintian --pedantic" lintian_on_changes || return
    step "4. apt install and autopkgtest" install_and_autopkgtest || return
    if [[ "$mode" == package ]]; then
        step "5. the same .deb files again" rebuild_varied || return
        step "hardening-check" hardening || return
    fi
}

summary=()
failed=0
if [[ "$mode" != package ]]; then
    run_commands
fi
if [[ "$mode" == both ]]; then
    KOMA_NOCHECK=1 run_package || true
elif [[ "$mode" == package ]]; then
    run_package || true
fi
summary_line=$(printf '%s; ' "${summary[@]}")
echo "fresh-machine $suite: ${summary_line%; }"
((failed == 0))
