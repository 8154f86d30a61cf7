#!/bin/sh
# The game against a real sound server: a private PulseAudio with a null sink, the game in a
# private Xvfb with SDL choosing its driver itself. Shows that KOMA holds no stream while sound
# is off, that the music reaches the sink's monitor once it is on, that the stream is gone
# again a few seconds after sound off, and that after the server was killed during the music and
# started again, a quick sound off and on plays again, and then sound off lets the output go.
# With `pipewire`, the same against a private PipeWire through SDL's own PipeWire driver.
#
#   pulse_check.sh KOMA_BINARY ASSETS_DIR [pulseaudio|pipewire]
#
# Needs pulseaudio (or pipewire-pulse, wireplumber and dbus-daemon), pactl, parec
# (pulseaudio-utils), Xvfb and xdotool.
set -u
koma=$1
assets=$2
server=${3:-pulseaudio}
. "$(dirname "$0")/sound_server.sh"
start_server

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
cp "$assets/koma.mid" "$assets/一等賞.wav" "$work/game/"
(cd "$work/game" && exec "$koma") 2>"$work/koma.err" &
game=$!
pids="$pids $game"
for _ in $(seq 150); do
    xdotool search --onlyvisible --name '^KOMA$' >/dev/null 2>&1 && break
    kill -0 "$game" 2>/dev/null || fail "the game ended without a window: $(cat "$work/koma.err")"
    sleep 0.1
done
xdotool search --onlyvisible --name '^KOMA$' >/dev/null 2>&1 || fail "no window in 15 s"
sleep 2

streams() { pactl list short sink-inputs | wc -l; }
# The loudest sample the sink's monitor carries over $1 seconds.
peak() {
    timeout "$1" parec -d koma_null.monitor --raw --format=s16le --channels=2 --rate=44100 \
        >"$work/monitor.raw" 2>/dev/null
    od -An -v -td2 -w2 "$work/monitor.raw" |
        awk '{ v = $1 < 0 ? -$1 : $1; if (v > m) m = v } END { print m + 0 }'
}
# Without a window manager the client area sits at the window's place, 318, 191.
click() { xdotool mousemove $((318 + $1)) $((191 + $2)) click 1; }

off_streams=$(streams)
echo "sound off at start: $off_streams KOMA streams"
click 218 440 # "BGMや効果音を出す"
sleep 1
on_streams=$(streams)
on_peak=$(peak 3)
echo "sound on: $on_streams streams, monitor peak $on_peak of 32767"
click 50 440 # "BGMや効果音は出さない"
sleep 6
after_streams=$(streams)
after_peak=$(peak 1)
echo "6 s after sound off: $after_streams streams, monitor peak $after_peak"

click 218 440 # on again
sleep 2
kill $server_pids
wait $server_pids 2>/dev/null
sleep 1
start_server
sleep 1
click 50 440
sleep 0.5
click 218 440
sleep 2
back_streams=$(streams)
boxes=$(xdotool search --name '^KOMA$' | wc -l)
echo "server killed and back, off, 0.5 s, on: $back_streams streams, $boxes KOMA windows"
click 50 440
# Once the music's echo has ended the output goes, and with it SDL's threads (SDLAudio...).
for _ in $(seq 40); do
    threads=$(grep -l '^SDLAudio' /proc/"$game"/task/*/comm 2>/dev/null | wc -l)
    [ "$threads" -eq 0 ] && break
    sleep 0.2
done

[ "$off_streams" -eq 0 ] || fail "a stream while sound was off at start"
[ "$on_streams" -ge 1 ] || fail "no stream with sound on"
[ "$on_peak" -gt 3000 ] || fail "no music on the sink"
[ "$after_streams" -eq 0 ] || fail "the stream stayed after sound off"
[ "$after_peak" -lt 100 ] || fail "sound after sound off"
[ "$back_streams" -ge 1 ] || fail "no stream once the server was back"
[ "$threads" -eq 0 ] || fail "$threads SDL audio threads, $(streams) streams 8 s after sound off"
echo PASS
