#!/bin/sh
# idle_probe.sh PID [SECONDS]: what a running program's own threads cost while it idles: CPU
# ticks (utime + stime, in USER_HZ) and wake-ups (context switches) over SECONDS (default 10),
# per thread and in total. Threads that start or end meanwhile are counted from zero.
set -eu
pid=$1
seconds=${2:-10}

# One line per thread: tid name ticks switches
sample() {
    for task in /proc/"$pid"/task/*; do
        tid=${task##*/}
        stat=$(cat "$task/stat" 2>/dev/null) || continue
        name=$(cat "$task/comm" 2>/dev/null | tr ' ' '_')
        # Fields after the name in parentheses: the 12th and 13th are utime and stime.
        ticks=$(echo "${stat##*) }" | awk '{ print $12 + $13 }')
        switches=$(awk '/ctxt_switches/ { n += $2 } END { print n + 0 }' "$task/status" 2>/dev/null)
        echo "$tid $name $ticks $switches"
    done
}

before=$(sample)
sleep "$seconds"
after=$(sample)
printf '%s\n--\n%s\n' "$before" "$after" | awk -v seconds="$seconds" '
    $0 == "--" { later = 1; next }
    !later { ticks[$1] = $3; switches[$1] = $4; next }
    {
        dt = $3 - ticks[$1]; ds = $4 - switches[$1]
        printf "thread %-8s %-16s ticks %4d wakeups %6d\n", $1, $2, dt, ds
        total_ticks += dt; total_switches += ds
    }
    END { printf "total over %d s: ticks %d wakeups %d\n", seconds, total_ticks, total_switches }'
