#!/usr/bin/env bash
# Measures the real program under Xvfb: the time from starting it to its
# window being mapped (median of several starts), and its peak resident
# memory after loading 32767 database names from the test server.
# Usage: bench/window/measure.sh [BIN_DIR] [STARTS]
set -euo pipefail
cd "$(dirname "$0")/../.."
BIN=$(realpath "${1:-build/bin}")
starts=${2:-9}
export QT_QPA_PLATFORM=xcb

# shellcheck source=../../tests/e2e/harness.sh
source tests/e2e/harness.sh
start_display

# Start to mapped.
times=()
for ((run = 0; run < starts; run++)); do
    t0=$(date +%s%N)
    "$BIN/tarvelo" >/dev/null 2>&1 &
    pid=$!
    wait_until 20 some_window_mapped || fail "the window did not appear"
    t1=$(date +%s%N)
    kill "$pid" && wait "$pid" 2>/dev/null || true
    wait_until 10 bash -c '! xdotool search --onlyvisible --name "^Tarvelo$" >/dev/null 2>&1' || true
    times+=($(((t1 - t0) / 1000000)))
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
median=$(echo "$sorted" | sed -n "$(((starts + 1) / 2))p")
echo "start to window mapped: median ${median} ms over $starts starts (each: ${times[*]} ms)"

# 32763 user databases and the 4 system ones: 32767 names.
state=$HARNESS_WORK/state.json
awk 'BEGIN {
    print "{\"version\": \"10.50.6000.34\","
    print " \"logins\": [{\"name\": \"sa\", \"password\": \"Secreto.1\", \"sysadmin\": true}],"
    print " \"databases\": ["
    for (i = 1; i <= 32763; i++) printf "  {\"name\": \"Base de datos %05d\"}%s\n", i, (i < 32763 ? "," : "")
    print "]}"
}' >"$state"
start_server "$state"
start_program
before_kib=$(awk '/VmRSS/ {print $2}' "/proc/$PROGRAM_PID/status")

enter_connection sa Secreto.1
screenshot "$HARNESS_WORK/before-load.png"
t0=$(date +%s%N)
click_load
# The load ends by showing the first name in the list.
wait_until 60 screen_region_changed "$HARNESS_WORK/before-load.png" "$(LIST_REGION)" ||
    fail "the list was not filled"
t1=$(date +%s%N)
no_message_box || fail "a message box came up during the load"
hwm_kib=$(awk '/VmHWM/ {print $2}' "/proc/$PROGRAM_PID/status")
rss_kib=$(awk '/VmRSS/ {print $2}' "/proc/$PROGRAM_PID/status")
echo "loading 32767 names: $(((t1 - t0) / 1000000)) ms from the click to the first name shown"
echo "resident memory: $((before_kib / 1024)) MiB before the load," \
    "$((rss_kib / 1024)) MiB after, peak $((hwm_kib / 1024)) MiB (target: at most 80 MiB)"
