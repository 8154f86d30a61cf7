#!/bin/sh
# The window while the sound server is stopped: the real game against a private PulseAudio (or
# PipeWire through SDL's own driver), whose processes are stopped (SIGSTOP) for 5 s across a
# completion, then across a sound off and on. Prints, for each, how many of 26 pings (one every
# 0.5 s from the stop) the window answered and how late, and when the notice showed or whether
# a box did. A private Xvfb, as tests/sound/pulse_check.sh.
#
#   stall_probe.sh KOMA_BINARY PROBE_BINARY [pulseaudio|pipewire]
#
# Not a test: it prints figures. PROBE_BINARY is
# build/release/tools/sound-probes/koma-stall-probe. Needs what tests/sound/pulse_check.sh needs.
set -u
koma=$(readlink -f "$1")
probe=$(readlink -f "$2")
server=${3:-pulseaudio}
. "$(dirname "$0")/../../tests/sound/sound_server.sh"
start_server
[ "$server" = pipewire ] && driver=pipewire || driver=pulseaudio
stopped=$(echo $server_pids | tr ' ' ',')
for action in complete toggle; do
    "$probe" --game "$koma" --driver "$driver" --stop "$stopped" "$action"
done
