#!/usr/bin/env bash
# Builds the Debian package, checks that apt can resolve it and that lintian finds nothing to
# warn about, validates its menu entry and metadata, reads the hardening out of the game
# binary, checks that the sound libraries are the sound module's alone (and still in Depends),
# then unpacks it into a throw-away folder (it is never installed here) and types `koma` in
# another folder, under Xvfb: one window titled "KOMA" must appear, with the window class the
# menu entry names, and no error box in front of it (the music was found), nor after sound is
# switched on (the game found its sound module in the package's private folder).
#   package_check.sh BUILD_DIR
set -euo pipefail
build=$1
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
LC_ALL=C cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >/dev/null
deb=$(ls "$work"/out/koma_*.deb)
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
dpkg-deb -f "$deb" Depends Installed-Size

apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt cannot resolve the package"; }
# The maintainer address is the builder's to set (KOMA_MAINTAINER); the rest must be clean.
lintian --pedantic --fail-on error,warning \
    --suppress-tags bogus-mail-host,mail-address-loops-or-bounces "$deb" ||
    fail "lintian found problems"

root=$work/root
dpkg-deb -x "$deb" "$root"
entry=$(ls "$root"/usr/share/applications/*.desktop)
desktop-file-validate "$entry" || fail "menu entry does not validate"
appstreamcli validate --pedantic --no-net --explain "$root"/usr/share/metainfo/*.metainfo.xml ||
    fail "metadata does not validate"
for size in 16 32 48 64 128 256; do
    [[ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/koma.png" ]] || fail "no ${size}px icon"
done

# What the menu would run, and where.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
path_line=$(sed -n 's/^Path=//p' "$entry")
wm_class=$(sed -n 's/^StartupWMClass=//p' "$entry")
[[ "$exec_line" == koma && -x "$root/usr/games/koma" ]] || fail "unexpected Exec=$exec_line"
[[ -f "$root$path_line/koma.mid" && -f "$root$path_line/一等賞.wav" ]] ||
    fail "the sound files are not in the entry's Path ($path_line)"

# Debian's hardening: read-only relocations bound at start, a position-independent
# executable, the stack protector and fortified libc calls.
game=$root/usr/libexec/koma/koma
elf=$(readelf -lW -dW --dyn-syms "$game")
grep -q GNU_RELRO <<<"$elf" || fail "no RELRO"
grep -q 'FLAGS_1.*NOW.*PIE' <<<"$elf" || fail "not bound at start (-z now) or not PIE"
grep -q __stack_chk_fail <<<"$elf" || fail "no stack protector"
grep -q '__[a-z]*_chk@' <<<"$elf" || fail "no fortified calls"

# The sound stack is loaded only with the sound module, from its private folder; its libraries
# are still the package's dependencies.
sound_libraries='libSDL2|libSDL2_mixer|libfluidsynth|libgomp'
module=$(ls "$root"/usr/lib/*/koma/koma-sound.so) || fail "no sound module in /usr/lib/<multiarch>/koma"
! grep -E "NEEDED.*($sound_libraries)" <<<"$elf" || fail "the game binary links a sound library"
grep -qE "NEEDED.*libfluidsynth" <(readelf -dW "$module") || fail "the module links no FluidSynth"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libsdl2-mixer-2.0-0 libfluidsynth3; do
    grep -q "$package" <<<"$depends" || fail "Depends lacks $package"
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
# The game loads its module from its real place only: the unpacked one is laid over it.
libdir=$(dirname "$(dirname "$module")")
(cd "$work/elsewhere" && SDL_AUDIODRIVER=dummy exec unshare --mount --propagation private \
    sh -c 'mount -t overlay overlay -o "lowerdir=$1:$2" "$2" && exec "$3"' sh \
    "$libdir" "${libdir#"$root"}" "$root/usr/games/$exec_line") &
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
# Sound on ("BGMや効果音を出す"; without a window manager the client area is at the window's
# place): the module is loaded, and no box says it cannot be.
eval "$(xdotool getwindowgeometry --shell "$windows" | grep -E '^[XY]=')"
xdotool mousemove $((X + 218)) $((Y + 440)) click 1
sleep 1
[[ $(xdotool search --onlyvisible --name '^KOMA$' | wc -l) == 1 ]] || fail "an error box at sound on"
grep -q koma-sound.so "/proc/$game_pid/maps" || fail "sound on did not load the sound module"
echo "window $windows, $geometry, class $class, sound on: ok"
