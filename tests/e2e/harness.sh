# shellcheck shell=bash
# The end-to-end harness: a virtual display, the test server and the real
# program, each stopped when the calling script exits.  Sourced by the
# end-to-end test and the window benchmark; BIN names the build's bin folder.

HARNESS_WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarvelo-e2e.XXXXXX")
HARNESS_PIDS=()

# Keeps the script's own exit status: the processes' ends do not count.
harness_stop() {
    local status=$? pid
    for ((i = ${#HARNESS_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${HARNESS_PIDS[i]}
        kill "$pid" 2>/dev/null || continue
        # A program that does not end on SIGTERM must not hold the run
        # forever: it is told, then killed.
        for ((t = 0; t < 100; t++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "harness: $pid did not end within 10 s of SIGTERM; killed" >&2
            kill -9 "$pid" 2>/dev/null
        fi
        wait "$pid" 2>/dev/null || true
    done
    HARNESS_PIDS=()
    rm -rf "$HARNESS_WORK"
    exit "$status"
}
trap harness_stop EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Waits until the command succeeds, polling every 20 ms, for at most $1 seconds.
wait_until() {
    local seconds=$1; shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.02
    done
}

file_has_content() { [ -s "$1" ]; }

# Starts Xvfb on a free display and exports DISPLAY.
start_display() {
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset \
        >"$HARNESS_WORK/display" 2>"$HARNESS_WORK/xvfb.log" &
    HARNESS_PIDS+=($!)
    wait_until 10 file_has_content "$HARNESS_WORK/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$HARNESS_WORK/display")"
}

first_line_is_listening() { head -n1 "$1" 2>/dev/null | grep -q '^listening on 127\.0\.0\.1:[0-9]*$'; }

# Starts the test server on a free port with the state file $1; sets SERVER_PORT.
start_server() {
    local out=$HARNESS_WORK/server.out
    "$BIN/tarvelo-testserver" --state "$1" --port 0 --log "$HARNESS_WORK/server.log" \
        >"$out" 2>"$HARNESS_WORK/server.err" &
    HARNESS_PIDS+=($!)
    wait_until 10 first_line_is_listening "$out" ||
        fail "the test server did not start: $(cat "$HARNESS_WORK/server.err")"
    SERVER_PORT=$(head -n1 "$out" | sed 's/.*://')
}

# The visible windows titled "Tarvelo" (the main window and any message box).
tarvelo_windows() { xdotool search --onlyvisible --name '^Tarvelo$' 2>/dev/null; }
some_window_mapped() { [ -n "$(tarvelo_windows)" ]; }

# Starts the program and waits for its window; sets PROGRAM_PID and MAIN_WINDOW.
start_program() {
    "$BIN/tarvelo" >"$HARNESS_WORK/tarvelo.out" 2>&1 &
    PROGRAM_PID=$!
    HARNESS_PIDS+=("$PROGRAM_PID")
    wait_until 20 some_window_mapped || fail "the window did not appear"
    MAIN_WINDOW=$(tarvelo_windows | head -n1)
    eval "$(xdotool getwindowgeometry --shell "$MAIN_WINDOW")"
    WINDOW_X=$X
    WINDOW_Y=$Y
}

# A message box is a second visible "Tarvelo" window.
message_box_up() { [ "$(tarvelo_windows | wc -l)" -ge 2 ]; }
no_message_box() { [ "$(tarvelo_windows | wc -l)" -le 1 ]; }

# The test server's certificate is its own: the first connection of a run
# asks whether to trust it, and the user answers Sí.  $1: where to keep a
# screenshot of the question, if anywhere.
trust_server_certificate() {
    wait_until 20 message_box_up || fail "no question about the server's certificate"
    sleep 0.3
    [ -z "${1:-}" ] || screenshot "$1"
    xdotool key alt+s
    wait_until 10 no_message_box || fail "the certificate question did not close"
}

# Places of the window's controls, in pixels from the window's top-left
# corner at 96 dots per inch: the twips of the layout divided by 15.
px() { echo $(($1 / 15)); }
# Clicks at twips ($1, $2) inside the window.
click_at() {
    xdotool mousemove --window "$MAIN_WINDOW" "$(px "$1")" "$(px "$2")" click 1
}
FRAME2_LEFT=120 FRAME2_TOP=1920 FRAME3_LEFT=120 FRAME3_TOP=4080
click_server() { click_at $((FRAME2_LEFT + 1200 + 1100)) $((FRAME2_TOP + 360 + 140)); }
click_login() { click_at $((FRAME2_LEFT + 1200 + 1100)) $((FRAME2_TOP + 660 + 140)); }
click_password() { click_at $((FRAME2_LEFT + 1200 + 1100)) $((FRAME2_TOP + 960 + 140)); }
click_load() { click_at $((FRAME2_LEFT + 1200 + 1100)) $((FRAME2_TOP + 1320 + 240)); }
click_list_arrow() { click_at $((FRAME2_LEFT + 5040 + 2295 - 150)) $((FRAME2_TOP + 360 + 150)); }
click_removal() { click_at $((120 + 3700)) $((5160 + 360)); }

# Screen regions (WxH+X+Y on the screen) of the status line, the list and the
# removal button.
region() {
    echo "$(px "$3")x$(px "$4")+$((WINDOW_X + $(px "$1")))+$((WINDOW_Y + $(px "$2")))"
}
STATUS_REGION() { region $((FRAME3_LEFT + 1200)) $((FRAME3_TOP + 360)) 5655 255; }
LIST_REGION() { region $((FRAME2_LEFT + 5040)) $((FRAME2_TOP + 360)) 2295 315; }
REMOVAL_REGION() { region 120 5160 7575 735; }

screenshot() { import -window root "$1"; }

# Number of pixels that differ between two screenshots within a region.
pixels_differing() {
    local a=$HARNESS_WORK/a.png b=$HARNESS_WORK/b.png
    convert "$1" -crop "$3" +repage "$a"
    convert "$2" -crop "$3" +repage "$b"
    compare -metric AE "$a" "$b" null: 2>&1 || true
}
regions_differ() { [ "$(pixels_differing "$@")" != 0 ]; }
regions_equal() { [ "$(pixels_differing "$@")" = 0 ]; }

# Whether the region of the screen now differs from the same region of $1.
screen_region_changed() {
    screenshot "$HARNESS_WORK/now.png"
    regions_differ "$1" "$HARNESS_WORK/now.png" "$2"
}

type_text() { xdotool type --delay 15 -- "$1"; }

# Types the server (the test server's address), the login and the password
# into their fields.
enter_connection() {
    click_server
    type_text "127.0.0.1,$SERVER_PORT"
    click_login
    type_text "$1"
    click_password
    type_text "$2"
}
