#!/usr/bin/env bash
# The real program under Xvfb against the test server, driven with xdotool as
# a user would: type the connection values, load the list, pick a database,
# ask to remove it, answer No with Enter alone, then Yes.  The database
# removed is named "<i>Compras</i>" beside a "Compras": markup in a name must
# not make the confirmation, or the removal, take one for the other.
# Screenshots go to $SHOTS; the test server's state file tells what was removed.
# Usage: removal_e2e.sh BIN_DIR SHOTS_DIR
set -euo pipefail

BIN=$1
SHOTS=$2

if ! command -v Xvfb >/dev/null; then
    echo "SKIP: Xvfb is not installed (scripts/setup installs it)"
    exit 77
fi

# shellcheck source=harness.sh
source "$(dirname "$0")/harness.sh"

rm -rf "$SHOTS"
mkdir -p "$SHOTS"
state=$HARNESS_WORK/state.json
# A full backup an hour old: the confirmation offers a final backup without
# proposing it, so Yes drops at once.
recent=$(date -d '-1 hour' +%Y-%m-%dT%H:%M:%S)
cat >"$state" <<JSON
{
  "version": "10.50.6000.34",
  "logins": [{"name": "sa", "password": "Secreto.1", "sysadmin": true}],
  "databases": [
    {"name": "<i>Compras</i>", "backups": [{"finished": "$recent", "type": "D",
                                            "device": "/var/opt/mssql/backup/Compras.bak"}]},
    {"name": "Almacen"},
    {"name": "Compras"},
    {"name": "Nóminas 2024"},
    {"name": "Ventas"}
  ]
}
JSON

start_display
start_server "$state"
start_program

shot() { screenshot "$SHOTS/$1.png"; echo "screenshot: $SHOTS/$1.png"; }
database_count() { grep -o '"name" *: *"[^"]*"' "$state" | grep -vc '"sa"' || true; }
has_database() { grep -q "\"name\" *: *\"$1\"" "$state"; }

shot 01-start

enter_connection sa Secreto.1
click_load
trust_server_certificate "$SHOTS/01-certificate.png"
echo "screenshot: $SHOTS/01-certificate.png"
# The load ends with the first name shown in the list.
wait_until 30 screen_region_changed "$SHOTS/01-start.png" "$(LIST_REGION)" ||
    fail "the list was not filled"
sleep 0.3
shot 02-loaded
regions_equal "$SHOTS/01-start.png" "$SHOTS/02-loaded.png" "$(STATUS_REGION)" ||
    fail "the status line is not empty after the load"

# The list reads <i>Compras</i>, Almacen, Compras, master, ...; the first is
# selected.  Pick the next one, then come back to the first.
click_list_arrow
sleep 0.5
xdotool key Down Return
wait_until 5 screen_region_changed "$SHOTS/02-loaded.png" "$(LIST_REGION)" ||
    fail "picking another database did not change the list's text"
sleep 0.2
shot 03-picked-other
click_list_arrow
sleep 0.5
xdotool key Up Return
wait_until 5 screen_region_changed "$SHOTS/03-picked-other.png" "$(LIST_REGION)" ||
    fail "picking the first database again did not change the list's text"
sleep 0.2
shot 03-picked

cp "$state" "$HARNESS_WORK/state-before.json"
click_removal
wait_until 10 message_box_up || fail "no confirmation box"
sleep 0.3
shot 04-confirmation
regions_differ "$SHOTS/03-picked.png" "$SHOTS/04-confirmation.png" "1024x768+0+0" ||
    fail "the confirmation box is not on the screen"
# Enter alone answers the default button, No.
xdotool key Return
wait_until 10 no_message_box || fail "Enter did not close the confirmation box"
sleep 0.3
shot 05-answered-no
cmp -s "$state" "$HARNESS_WORK/state-before.json" || fail "answering No changed the server"
regions_equal "$SHOTS/03-picked.png" "$SHOTS/05-answered-no.png" "$(STATUS_REGION)" ||
    fail "answering No changed the status line"

# Yes, by its accelerator.  The button is still enabled, so the box comes again.
click_removal
wait_until 10 message_box_up || fail "after No the removal button no longer asks"
sleep 0.3
xdotool key alt+s
wait_until 30 screen_region_changed "$SHOTS/05-answered-no.png" "$(STATUS_REGION)" ||
    fail "the status line did not report the removal"
wait_until 10 no_message_box || fail "a message box is still up after the removal"
sleep 0.3
shot 06-removed
regions_differ "$SHOTS/05-answered-no.png" "$SHOTS/06-removed.png" "$(REMOVAL_REGION)" ||
    fail "the removal button is still enabled"
regions_equal "$SHOTS/05-answered-no.png" "$SHOTS/06-removed.png" "$(LIST_REGION)" ||
    fail "the list changed after the removal"

has_database '<i>Compras</i>' && fail "<i>Compras</i> is still on the server"
for kept in Almacen Compras "Nóminas 2024" Ventas; do
    has_database "$kept" || fail "$kept was removed too"
done
[ "$(database_count)" = 4 ] || fail "expected 4 databases left, the state file says $(database_count)"
echo "PASS: Enter answered No, Yes removed exactly <i>Compras</i>"
