#!/bin/sh
# What a music file costs the game against a real sound server: sound on for 4 s, CPU ticks
# over 10 s while it plays, sound off, KOMA's streams 5 s after off, CPU ticks over the 10 s
# after that, and the game's peak memory. A private PulseAudio with a null sink and a private
# Xvfb, as tests/sound/pulse_check.sh.
#
#   pulse_probe.sh KOMA_BINARY MIDI_FILE
#
# Not a test: it prints figures. Needs what tests/sound/pulse_check.sh needs.
set -u
koma=$(readlink -f "$1")
midi=$(readlink -f "$2")
here=$(cd "$(dirname "$0")" && pwd)
assets=$here/../../assets
probe=$here/../startup/idle_probe.sh
work=$(mktemp -d); pids=""
cleanup() { for pid in $pids; do kill "$pid" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -m 700 "$work/run" "$work/game"
export XDG_RUNTIME_DIR="$work/run" HOME="$work"
unset SDL_AUDIODRIVER PULSE_SERVER
pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=file:"$work/pulse.log" \
    -L module-native-protocol-unix -L "module-null-sink sink_name=koma_null" &
pids="$pids $!"
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink koma_null
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
cp "$assets/一等賞.wav" "$work/game/"; cp "$midi" "$work/game/koma.mid"
(cd "$work/game" && exec "$koma") 2>"$work/koma.err" &
kpid=$!; pids="$pids $kpid"
timeout 20 xdotool search --sync --name '^KOMA$' >/dev/null 2>&1
sleep 2
echo "windows: $(xdotool search --name '^KOMA$' | wc -l)"
streams() { pactl list short sink-inputs | wc -l; }
click() { xdotool mousemove $((318 + $1)) $((191 + $2)) click 1; }
click 218 440; sleep 4
echo "on 4 s: streams $(streams), windows $(xdotool search --name '^KOMA$' | wc -l)"
echo "playing: $(sh $probe $kpid 10 | tail -1)"
click 50 440; sleep 5
echo "5 s after off: streams $(streams)"
echo "after off: $(sh $probe $kpid 10 | tail -1)"
echo "15 s after off: streams $(streams); alive: $(kill -0 $kpid 2>/dev/null && echo yes || echo no)"
echo "peak memory: $(awk '/^VmHWM/ { print $2 / 1024 " MB" }' /proc/$kpid/status)"
