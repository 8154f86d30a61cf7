# A private sound server for pulse_check.sh here and the probes in tools/sound-probes, sourced by
# them once they have set $server: PulseAudio with a null sink, or with $server = pipewire, PipeWire
# with WirePlumber and its PulseAudio service, each with a default sink koma_null. Sets up $work (a
# fresh folder, removed at the exit with every process in $pids, stopped ones too) and fail;
# start_server starts the server and sets $server_pids.
work=$(mktemp -d)
pids=""
cleanup() {
    for pid in $pids; do kill -CONT "$pid" 2>/dev/null; kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

mkdir -m 700 "$work/run" "$work/game"
# Only this test's server and display, whatever the caller's shell holds: no PulseAudio
# settings (PULSE_SERVER, PULSE_RUNTIME_PATH, ...), SDL driver, Qt platform or scaling, Wayland.
export XDG_RUNTIME_DIR="$work/run" HOME="$work"
for name in $(env | sed -n 's/^\(\(PULSE\|PIPEWIRE\|QT\)_[A-Za-z0-9_]*\)=.*/\1/p'); do
    unset "$name"
done
unset SDL_AUDIODRIVER WAYLAND_DISPLAY
if [ "$server" = pipewire ]; then
    export SDL_AUDIODRIVER=pipewire DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/bus"
    # WirePlumber will not run without a session bus.
    dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
        >"$work/bus.log" 2>&1 &
    pids="$pids $!"
    for _ in $(seq 50); do [ -S "$work/run/bus" ] && break; sleep 0.1; done
fi
start_server() {
    if [ "$server" = pipewire ]; then
        pipewire >>"$work/server.log" 2>&1 &
        server_pids=$!
        # The others give up at once if the server is not there yet.
        for _ in $(seq 50); do [ -S "$work/run/pipewire-0" ] && break; sleep 0.1; done
        for daemon in wireplumber pipewire-pulse; do
            $daemon >>"$work/server.log" 2>&1 &
            server_pids="$server_pids $!"
        done
    else
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=file:"$work/server.log" \
            -L module-native-protocol-unix -L "module-null-sink sink_name=koma_null" &
        server_pids=$!
    fi
    pids="$pids $server_pids"
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl info >/dev/null 2>&1 || fail "$server did not start: $(tail -3 "$work/server.log")"
    if [ "$server" = pipewire ]; then
        pactl load-module module-null-sink sink_name=koma_null >/dev/null
    fi
    # Under PipeWire, only once WirePlumber is there too: without it no stream is ever linked.
    for _ in $(seq 100); do pactl set-default-sink koma_null 2>/dev/null && break; sleep 0.1; done
    pactl set-default-sink koma_null || fail "$server: no default sink: $(tail -3 "$work/server.log")"
}
