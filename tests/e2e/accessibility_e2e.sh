#!/usr/bin/env bash
# The real program under Xvfb as a screen reader meets it, through AT-SPI on
# a private session bus: Enter in the password field loads the list (slowly:
# the server holds the listing, and the window, unmapped and mapped again
# meanwhile, repaints), a removal is confirmed with its final backup, the
# backup's progress is heard, and every status text is announced as the
# status line's accessible name; afterwards the focus is on the list.  A
# screen reader's "activate" on either button while the load or the removal
# runs starts nothing.  In a second run the final backup is cancelled with
# "Cancelar" pressed through AT-SPI, and the database stays.
# Usage: accessibility_e2e.sh BIN_DIR
set -euo pipefail

BIN=$1
HERE=$(dirname "$0")

for tool in Xvfb dbus-run-session; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/setup installs it)"
        exit 77
    fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
    echo "SKIP: python3-pyatspi is not installed (scripts/setup installs it)"
    exit 77
fi
if [ -z "${TARVELO_OWN_BUS:-}" ]; then
    TARVELO_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi

# shellcheck source=harness.sh
source "$HERE/harness.sh"

state=$HARNESS_WORK/state.json
mkdir "$HARNESS_WORK/backups"
cat >"$state" <<JSON
{
  "version": "15.0.2000.5",
  "backupFolder": "$HARNESS_WORK/backups",
  "logins": [{"name": "sa", "password": "Secreto.1", "sysadmin": true}],
  "databases": [{"name": "Compras", "backupTakes": 4000}, {"name": "Ventas", "backupTakes": 30000}],
  "faults": [{"stage": "query", "action": "delay", "ms": 4000,
              "statement": "SELECT name FROM master.dbo.sysdatabases"},
             {"stage": "query", "action": "delay", "ms": 3000, "statement": "DROP DATABASE"}]
}
JSON

start_display
start_server "$state"
heard=$HARNESS_WORK/heard
/usr/bin/python3 "$HERE/atspi_status.py" listen 110 "$heard" 2>"$HARNESS_WORK/listen.err" &
HARNESS_PIDS+=($!)
registered() { grep -q '^registered$' "$heard" 2>/dev/null; }
listening() { grep -q '^listening$' "$heard" 2>/dev/null; }
wait_until 20 registered || fail "no accessibility bus: $(cat "$HARNESS_WORK/listen.err")"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
start_program
wait_until 20 listening || fail "the program is not on the accessibility bus: $(cat "$HARNESS_WORK/listen.err")"
screenshot "$HARNESS_WORK/start.png"

enter_connection sa Secreto.1
xdotool key Return
trust_server_certificate
wait_until 10 screen_region_changed "$HARNESS_WORK/start.png" "$(STATUS_REGION)" ||
    fail "Enter in the password field did not start the load"
sleep 0.3
screenshot "$HARNESS_WORK/loading.png"
# While the server holds the listing the window is taken off the screen and
# put back: it must paint itself again, status line included.
xdotool windowunmap --sync "$MAIN_WINDOW"
xdotool windowmap --sync "$MAIN_WINDOW"
sleep 0.5
screenshot "$HARNESS_WORK/remapped.png"
regions_equal "$HARNESS_WORK/loading.png" "$HARNESS_WORK/remapped.png" "$(STATUS_REGION)" ||
    fail "the window did not repaint while the load ran"
regions_equal "$HARNESS_WORK/start.png" "$HARNESS_WORK/remapped.png" "$(LIST_REGION)" ||
    fail "the load had ended before the window was put back; the check proves nothing"
press_both() {
    /usr/bin/python3 "$HERE/atspi_status.py" press 'Eliminar Base de Datos' 'Carga Bases de Datos' ||
        fail "the buttons could not be pressed through AT-SPI"
}
press_both
regions_equal "$HARNESS_WORK/start.png" "$HARNESS_WORK/remapped.png" "$(LIST_REGION)" ||
    fail "the load had ended before the buttons were pressed; the check proves nothing"
wait_until 30 screen_region_changed "$HARNESS_WORK/start.png" "$(LIST_REGION)" ||
    fail "the load did not fill the list"
# A press's click comes a moment after it: whatever it started would show a box.
sleep 1
no_message_box || fail "a button pressed through AT-SPI during the load started a command"
screenshot "$HARNESS_WORK/loaded.png"

click_removal
wait_until 10 message_box_up || fail "no confirmation box"
sleep 0.3
xdotool key alt+s
removing() { grep -qx 'Eliminando base de datos...' "$heard"; }
wait_until 10 removing || fail "the removal did not start"
press_both
sleep 1
no_message_box || fail "a button pressed through AT-SPI during the removal started a command"
heard_progress() { grep -q '^progress [1-9]' "$heard"; }
wait_until 20 heard_progress ||
    fail "the backup's progress was not heard; heard: $(tr '\n' '|' <"$heard")"
grep -q '^Haciendo la copia de seguridad final de la base de datos' "$heard" ||
    fail "the backup's step was not announced"
# After the drop, the message that names the backup file.
wait_until 30 message_box_up || fail "no message about the final backup"
sleep 0.3
xdotool key Return
heard_removal() { grep -qx 'Base de datos eliminada correctamente.' "$heard"; }
wait_until 30 heard_removal ||
    fail "the outcome was not announced; heard: $(tr '\n' '|' <"$heard")"
ls "$HARNESS_WORK/backups"/Tarvelo_Compras_*.bak >/dev/null 2>&1 ||
    fail "no backup file of Compras on the server's disk"
grep -qx 'Cargando bases de datos...' "$heard" || fail "the load was not announced"
grep -qx 'Eliminando base de datos...' "$heard" || fail "the removal was not announced"
grep -q '"name" *: *"Compras"' "$state" && fail "Compras is still on the server"

# Without a window manager nobody gives the focus back to the window when
# the box closes; a desktop does.
xdotool windowfocus --sync "$MAIN_WINDOW"
sleep 0.3
mapfile -t seen < <(/usr/bin/python3 "$HERE/atspi_status.py" tree)
[ "${seen[0]}" = 'Base de datos eliminada correctamente.' ] ||
    fail "the status line's name is '${seen[0]}'"
[ "${seen[1]}" = 'Estado' ] || fail "the status line's description is '${seen[1]}'"
[ "${seen[2]}" = 'Base de Datos' ] || fail "the focus is on '${seen[2]}', not on the list"

# A second run: the final backup of Ventas is cancelled through AT-SPI.
kill "$PROGRAM_PID"
wait "$PROGRAM_PID" 2>/dev/null || true
start_program
enter_connection sa Secreto.1
click_at $((FRAME2_LEFT + 5040 + 600)) $((FRAME2_TOP + 360 + 150))
type_text Ventas
click_removal
# The new run asks about the certificate first; the confirmation follows
# at once, so the two boxes are told apart by time.
wait_until 20 message_box_up || fail "no question about the server's certificate"
sleep 0.3
xdotool key alt+s
sleep 2
wait_until 10 message_box_up || fail "no confirmation box for Ventas"
sleep 0.3
xdotool key alt+s
backing_up_ventas() { grep -q "^Haciendo la copia de seguridad final de la base de datos 'Ventas'" "$heard"; }
wait_until 20 backing_up_ventas || fail "the backup of Ventas was not announced"
sleep 2
/usr/bin/python3 "$HERE/atspi_status.py" press Cancelar || fail "Cancelar could not be pressed through AT-SPI"
wait_until 20 message_box_up || fail "no message after Cancelar"
sleep 0.3
xdotool key Return
heard_failure() { grep -qx 'Se han producido errores durante la eliminación de la base de datos.' "$heard"; }
wait_until 20 heard_failure || fail "the cancelled removal's outcome was not announced"
grep -q '"name" *: *"Ventas"' "$state" || fail "Ventas is gone after Cancelar"
echo "PASS: the status texts and the backup's progress were announced, the focus stayed on the list, Cancelar through AT-SPI kept Ventas"
