#!/usr/bin/env bash
# The voter's whole road with the keyboard alone, as a screen reader sees it:
# starts the real program under its own virtual display and a private D-Bus
# session, reads the screens over AT-SPI and drives them with real key events.
#   keyboard_road.sh BINDIR     (BINDIR holds pollaris and pollaris-admin)
# Exits 77 (skipped) when the display, the bus or the AT-SPI bindings are missing.
set -euo pipefail
python=/usr/bin/python3
for tool in Xvfb xdotool dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
[ -x /usr/libexec/at-spi-bus-launcher ] || { echo "skipped: at-spi2-core is missing"; exit 77; }
"$python" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is missing"; exit 77; }

bindir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb=""
session=""
# Also when the test is stopped. The session runs in a process group of its own,
# which holds the driver, the program, both buses and the accessibility
# registry, even those that outlive the session's end.
cleanup() {
    set +e
    [ -n "$session" ] && kill -TERM -- "-$session" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# The program reads the election file beside itself.
cp "$bindir/pollaris" "$work/"
"$bindir/pollaris-admin" new --demo --admin admin --password admin "$work/candpos4.mdb" >/dev/null

# shellcheck source=xvfb.sh
. "$here/xvfb.sh"
start_xvfb "$work/xvfb.log"
[ -n "$xvfb" ] || { echo "no free display for Xvfb"; exit 1; }

# A private session bus; the accessibility bus is started on it when first asked for.
setsid dbus-run-session -- "$python" "$here/keyboard_road.py" "$work/pollaris" "$work/candpos4.mdb" &
session=$!
wait "$session"
