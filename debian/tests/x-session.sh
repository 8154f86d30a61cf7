# SPDX-License-Identifier: MIT
# Sourced by the autopkgtests that play the installed game: a private Xvfb with openbox as the
# window manager, and the game started as the player starts it, by the `koma` command, in a
# folder of its own (which holds no music: the command finds the installed one).
#   start_game [VARIABLE=VALUE...]   sets game_pid and window; the settings go to the game
#   window_count                     visible windows titled KOMA (the game's and any box)
#   close_game                       closes the window as the desktop does; fails unless the
#                                    game then ends with status 0
set -euo pipefail

work=$(mktemp -d "${AUTOPKGTEST_TMP:-/tmp}/koma-x.XXXXXX")
xvfb_pid=
wm_pid=
game_pid=
end_session() {
    local pid
    for pid in "$game_pid" "$wm_pid" "$xvfb_pid"; do
        [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap end_session EXIT
fail() {
    echo "FAIL: $*" >&2
    [[ -s "$work/game.log" ]] && sed 's/^/game: /' "$work/game.log" >&2
    exit 1
}
# Polls COMMAND every half second for up to SECONDS.
wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 2))
    until "$@"; do
        ((--tries > 0)) || return 1
        sleep 0.5
    done
}

# Only this session's display and no desktop settings of the caller: no Qt platform, scaling
# or style, no Wayland display, no sound server.
unset WAYLAND_DISPLAY $(compgen -v QT_) $(compgen -v PULSE_) SDL_AUDIODRIVER
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# -noreset: a server that resets as its last client leaves may take openbox down with it while
# xprop looks for it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    fail "openbox did not start: $(cat "$work/openbox.log")"

window_count() {
    xdotool search --onlyvisible --name '^KOMA$' 2>/dev/null | wc -l
}

start_game() {
    mkdir -p "$work/elsewhere"
    (cd "$work/elsewhere" && exec env "$@" /usr/games/koma) >"$work/game.log" 2>&1 &
    game_pid=$!
    wait_for 30 sh -c '[ "$(xdotool search --onlyvisible --name "^KOMA\$" | wc -l)" -ge 1 ]' ||
        fail "no window titled KOMA appeared"
    sleep 2  # an error box would stand beside the game's window by now
    (($(window_count) == 1)) || fail "$(window_count) windows titled KOMA: an error box is showing"
    window=$(xdotool search --onlyvisible --name '^KOMA$')
    kill -0 "$game_pid" || fail "the game ended"
    echo "one window titled KOMA ($window), no error box"
}

close_game() {
    wmctrl -i -c "$window"
    local waited=0
    while kill -0 "$game_pid" 2>/dev/null && ((waited++ < 30)); do
        sleep 0.5
    done
    kill -0 "$game_pid" 2>/dev/null && fail "the game did not end within 15 s of the close"
    local status=0
    wait "$game_pid" || status=$?
    game_pid=
    ((status == 0)) || fail "the game ended with status $status"
    echo "closed: the game ended with status 0"
}
