#!/usr/bin/env bash
# What the Debian package is made of, checked from this build folder without building the
# package (dpkg-buildpackage, which builds it all again, is for tools/fresh-machine.sh and CI):
#   - the source package: the upstream tarball and debian/ go through dpkg-source and lintian;
#   - the install into the build's own folders (with the release preset those of the package:
#     /usr and the multiarch library folder): exactly the package's files, a menu entry and
#     metadata that validate, the hardening in the game binary, the sound libraries the sound
#     module's alone and still found by dpkg-shlibdeps;
#   - the installed `koma` command, typed in another folder under Xvfb: one window titled
#     "KOMA" with the menu entry's window class and no error box in front of it (the music was
#     found), nor after sound is switched on (the module came from the private folder).
#   package_check.sh SOURCE_DIR BUILD_DIR APP_ID PREFIX LIBDIR LIBEXECDIR DATADIR MANDIR
# (the application's id and the build's full install folders, as CMake gives them)
set -euo pipefail
source_dir=$1
build=$2
app_id=$3
prefix=${4#/}
libdir=${5#/}
libexecdir=${6#/}
datadir=${7#/}
mandir=${8#/}
work=$(mktemp -d)
xvfb_pid=
game_pid=
cleanup() {
    [[ -n "$game_pid" ]] && kill "$game_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# In the POSIX locale of a minimal system, which the packaging must not depend on.
export LC_ALL=C

# The source package, from a copy of the source (dpkg-source writes beside it).
version=$(cd "$source_dir" && dpkg-parsechangelog -S Version)
copy=$work/source/koma-${version%-*}
mkdir -p "$copy"
# Without the working folders, this build's among them wherever `cmake -B` put it.
leave_out=(./.git ./build ./out './obj-*' ./debian/koma ./debian/.debhelper)
source_real=$(cd "$source_dir" && pwd -P)
build_real=$(cd "$build" && pwd -P)
[[ "$build_real" == "$source_real"/* ]] && leave_out+=("./${build_real#"$source_real"/}")
tar -C "$source_dir" "${leave_out[@]/#/--exclude=}" -cf - . | tar -C "$copy" -xf -
"$source_dir/packaging/orig-tarball.sh" "$copy" >/dev/null
(cd "$work/source" && dpkg-source -b "${copy##*/}" >/dev/null) || fail "dpkg-source cannot build it"
# The maintainer address is a placeholder for whoever maintains the package.
lintian --pedantic --fail-on error,warning \
    --suppress-tags bogus-mail-host,mail-address-loops-or-bounces \
    "$work/source/koma_$version.dsc" || fail "lintian found problems in the source package"

root=$work/root
# Into the folders the build was configured with: the installed game loads its module from
# the library folder it was built for.
DESTDIR=$root cmake --install "$build" >/dev/null
expected="$prefix/games/koma
$libdir/koma/koma-sound.so
$libexecdir/koma/koma
$datadir/applications/$app_id.desktop
$datadir/games/koma/koma.mid
$datadir/games/koma/一等賞.wav
$(printf "$datadir/icons/hicolor/%sx%s/apps/$app_id.png\n" 128 128 16 16 256 256 32 32 48 48 64 64)
$mandir/man6/koma.6.gz
$datadir/metainfo/$app_id.metainfo.xml"
installed=$(cd "$root" && find . -type f -printf '%P\n' | sort)
[[ "$installed" == "$(sort <<<"$expected")" ]] ||
    fail "the install holds other files than the package's: $(diff <(sort <<<"$expected") - <<<"$installed")"

entry=$root/$datadir/applications/$app_id.desktop
desktop-file-validate "$entry" || fail "menu entry does not validate"
appstreamcli validate --pedantic --no-net --explain "$root/$datadir/metainfo/$app_id.metainfo.xml" ||
    fail "metadata does not validate"
# What the menu would run, and where.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
path_line=$(sed -n 's/^Path=//p' "$entry")
wm_class=$(sed -n 's/^StartupWMClass=//p' "$entry")
[[ "$exec_line" == koma && -x "$root/$prefix/games/koma" ]] || fail "unexpected Exec=$exec_line"
[[ -f "$root$path_line/koma.mid" && -f "$root$path_line/一等賞.wav" ]] ||
    fail "the sound files are not in the entry's Path ($path_line)"

# Debian's hardening: read-only relocations bound at start, a position-independent
# executable, the stack protector and fortified libc calls.
game=$root/$libexecdir/koma/koma
module=$root/$libdir/koma/koma-sound.so
elf=$(readelf -lW -dW --dyn-syms "$game")
grep -q GNU_RELRO <<<"$elf" || fail "no RELRO"
grep -q 'FLAGS_1.*NOW.*PIE' <<<"$elf" || fail "not bound at start (-z now) or not PIE"
grep -q __stack_chk_fail <<<"$elf" || fail "no stack protector"
grep -q '__[a-z]*_chk@' <<<"$elf" || fail "no fortified calls"

# The sound stack is loaded only with the sound module; its libraries are still the
# package's dependencies.
sound_libraries='libSDL2|libSDL2_mixer|libfluidsynth|libgomp'
! grep -E "NEEDED.*($sound_libraries)" <<<"$elf" || fail "the game binary links a sound library"
grep -qE "NEEDED.*libfluidsynth" <(readelf -dW "$module") || fail "the module links no FluidSynth"
depends=$(cd "$copy" && dpkg-shlibdeps -O -e"$game" -e"$module" 2>/dev/null)
for package in libsdl2-mixer-2.0-0 libfluidsynth3; do
    grep -q "$package" <<<"$depends" || fail "dpkg-shlibdeps does not find $package: $depends"
done

Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
# The game on that X server whatever the caller's shell holds: no Qt platform, scaling or style
# of its own, no Wayland display.
unset WAYLAND_DISPLAY $(compgen -v QT_)

# Typed in another folder, one without the sound files.
mkdir "$work/elsewhere"
# The game loads its module from its real place only: the unpacked one is laid over it, in a
# mount namespace of the game's own. That takes root, and the library folder on this machine.
overlay=
if ! unshare --mount true 2>/dev/null; then
    echo "not root: sound on, which needs the module in its installed place, is not tried"
elif [[ ! -d "/$libdir" ]]; then
    echo "no /$libdir here to lay the module over: sound on is not tried"
else
    overlay=yes
fi
command=$root/$prefix/games/$exec_line
if [[ -n "$overlay" ]]; then
    (cd "$work/elsewhere" && SDL_AUDIODRIVER=dummy exec unshare --mount --propagation private \
        sh -c 'mount -t overlay overlay -o "lowerdir=$1:$2" "$2" && exec "$3"' sh \
        "$root/$libdir" "/$libdir" "$command") &
else
    (cd "$work/elsewhere" && SDL_AUDIODRIVER=dummy exec "$command") &
fi
game_pid=$!
windows=
for _ in $(seq 100); do
    windows=$(xdotool search --onlyvisible --name '^KOMA$' 2>/dev/null || true)
    [[ -n "$windows" ]] && break
    sleep 0.1
done
[[ -n "$windows" ]] || fail "no window titled KOMA appeared"
sleep 1
windows=$(xdotool search --onlyvisible --name '^KOMA$')
[[ $(wc -l <<<"$windows") == 1 ]] || fail "more than one KOMA window: an error box is showing"
geometry=$(xdotool getwindowgeometry "$windows" | sed -n 's/ *Geometry: //p')
[[ "$geometry" == 476x466 ]] || fail "the window is $geometry, not the game's 476x466"
kill -0 "$game_pid" || fail "the game ended"
# (Qt itself brings libgomp in, through libb2.)
! grep -qE 'libSDL2|libfluidsynth' "/proc/$game_pid/maps" || fail "sound libraries loaded while sound is off"
class=$(xprop -id "$windows" WM_CLASS | sed -n 's/.*= "\(.*\)", "\(.*\)"/\2/p')
[[ -n "$wm_class" && "$class" == "$wm_class" ]] ||
    fail "window class \"$class\", the menu entry says \"$wm_class\""
[[ -n "$overlay" ]] || { echo "window $windows, $geometry, class $class: ok"; exit 0; }
# Sound on ("BGMや効果音を出す"; without a window manager the client area is at the window's
# place): the module is loaded from the private folder, and no box says it cannot be.
eval "$(xdotool getwindowgeometry --shell "$windows" | grep -E '^[XY]=')"
xdotool mousemove $((X + 218)) $((Y + 440)) click 1
sleep 1
[[ $(xdotool search --onlyvisible --name '^KOMA$' | wc -l) == 1 ]] || fail "an error box at sound on"
# Seen through the overlay the module has its installed name and the unpacked file's inode.
grep -qE " $(stat -c %i "$module") +/$libdir/koma/koma-sound\.so\$" "/proc/$game_pid/maps" ||
    fail "sound on did not load $module"
echo "window $windows, $geometry, class $class, sound on: ok"
