#!/usr/bin/env bash
# Runs KOMA under valgrind's memcheck twice and prints both summaries:
#   1. a headless computer solve of the start arrangement (koma-trace solve …);
#   2. the real window in a private Xvfb: start, sound on, a few clicks, a game completed by
#      hand, the "できた!!!!" box closed, the window closed by its close box.
# Errors from libraries are suppressed by tools/valgrind/koma.supp (each entry says why).
# Needs valgrind, Xvfb and xdotool. Slow: a few minutes.
#
#   tools/valgrind/run.sh              builds in build/valgrind (RelWithDebInfo)
#   KOMA_BUILD_DIR=build/x tools/valgrind/run.sh
#
# Exit status 0 when both runs end with status 0 and report no errors.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${KOMA_BUILD_DIR:-build/valgrind}"
logs="$root/$build/valgrind"
supp="$root/tools/valgrind/koma.supp"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target koma koma-trace koma-xclose >/dev/null
mkdir -p "$logs"

memcheck=(valgrind --tool=memcheck --child-silent-after-fork=yes --leak-check=full
          --show-leak-kinds=definite
          --errors-for-leak-kinds=definite --num-callers=40 --error-exitcode=99
          --gen-suppressions=all "--suppressions=$supp")
start_rows=(12 3 2 9 0 7 6 15 4 1 10 11 8 5 14 13)

summary() {  # name log status
    echo "== $1: exit status $3"
    grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|suppressed:" "$2" |
        sed 's/^==[0-9]*== /   /'
}

# 1. Headless solve ---------------------------------------------------------------------------
solve_status=0
"${memcheck[@]}" --log-file="$logs/solve.log" "$build/tools/trace/koma-trace" solve "${start_rows[@]}" \
    >"$logs/solve.out" || solve_status=$?

# 2. The real window ------------------------------------------------------------------------
work=$(mktemp -d)
xvfb_pid=""
game_pid=""
cleanup() {
    [[ -n "$game_pid" ]] && kill "$game_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cp assets/koma.mid assets/一等賞.wav "$work/"
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 10 display_number <&"$display_fd"
exec {display_fd}<&-
export DISPLAY=":$display_number"

# Without a window manager the client area sits at the window's place; read once it shows.
left=""
top=""
click() { xdotool mousemove $((left + $1)) $((top + $2)) click "${3:-1}"; }
cell_click_args() {  # x y: the arguments of one click in the middle of cell (x, y)
    echo "mousemove $((left + 96 * $1 + 57)) $((top + 96 * $2 + 57)) click 1"
}
koma_windows() { xdotool search --onlyvisible --name '^KOMA$' 2>/dev/null || true; }
wait_for() {  # seconds command…: polls until the command prints something
    local seconds=$1
    shift
    for ((i = 0; i < seconds * 5; ++i)); do
        local out
        out=$("$@")
        if [[ -n "$out" ]]; then
            echo "$out"
            return 0
        fi
        sleep 0.2
    done
    return 1
}
other_window() { koma_windows | grep -vx "$1" | head -1; }

(cd "$work" && SDL_AUDIODRIVER=dummy exec "${memcheck[@]}" --log-file="$logs/window.log" \
    "$root/$build/koma") &
game_pid=$!

game_window() {  # the game's window; stops the wait once the game has ended
    kill -0 "$game_pid" 2>/dev/null || { echo gone; return; }
    koma_windows | head -1
}
window=$(wait_for 180 game_window) || true
if [[ -z "$window" || "$window" == gone ]]; then
    echo "the window never appeared; the end of $logs/window.log:"
    tail -20 "$logs/window.log"
    exit 1
fi
eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^[XY]=')"
left=$X
top=$Y
sleep 3  # let the first paint finish
click 218 440                   # sound on
click $((96 + 57)) $((96 + 57)) # tile 7 slides left into the blank
click 57 $((96 + 57)) 3         # and back, with the right button
click 200 420                   # outside the board
click 57 $((96 + 57))           # the blank itself

# A game completed by hand: the solver's steps, each a click on the cell the blank moves to.
bx=0
by=1
clicks=()
while read -r step; do
    case "$step" in
    BlankLeft) bx=$((bx - 1)) ;;
    BlankRight) bx=$((bx + 1)) ;;
    BlankUp) by=$((by - 1)) ;;
    BlankDown) by=$((by + 1)) ;;
    *) continue ;;
    esac
    read -ra one <<<"$(cell_click_args "$bx" "$by")"
    clicks+=("${one[@]}")
done < <("$build/tools/trace/koma-trace" solve "${start_rows[@]}")
xdotool "${clicks[@]}"

notice=$(wait_for 300 other_window "$window") || { echo "no \"できた!!!!\" box"; exit 1; }
sleep 1
"$build/tools/valgrind/koma-xclose" "$notice"
for ((i = 0; i < 150 && $(koma_windows | grep -cx "$notice") > 0; ++i)); do sleep 0.2; done
sleep 1
"$build/tools/valgrind/koma-xclose" "$window"

window_status=0
wait "$game_pid" || window_status=$?
game_pid=""

echo
summary "headless solve (koma-trace solve)" "$logs/solve.log" "$solve_status"
summary "real window (start, clicks, completed game, close)" "$logs/window.log" "$window_status"
echo "   full logs: $logs/solve.log, $logs/window.log"
[[ $solve_status -eq 0 && $window_status -eq 0 ]]
