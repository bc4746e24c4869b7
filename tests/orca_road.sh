#!/usr/bin/env bash
# The voter's whole road, and the candidates' panel, a position's results and the
# voters' accounts, as a blind voter and a blind administrator hear them: the real
# program and the real screen reader Orca run under a virtual display in a private
# D-Bus session, real key presses drive the screens, and what Orca said is read
# back from its debug log.
#   orca_road.sh BINDIR     (BINDIR holds pollaris and pollaris-admin)
# Exits 77 (skipped) when Orca, the display, the bus or the AT-SPI bindings are missing.
set -euo pipefail
python=/usr/bin/python3
for tool in orca Xvfb xdotool dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
[ -x /usr/libexec/at-spi-bus-launcher ] || { echo "skipped: at-spi2-core is missing"; exit 77; }
"$python" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is missing"; exit 77; }
"$python" -c 'import orca.orca_platform' 2>/dev/null || { echo "skipped: orca is missing"; exit 77; }

bindir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb=""
session=""
# Also when the test is stopped. The session runs in a process group of its own,
# which holds the driver, Orca, the program, both buses and the accessibility
# registry, even those that outlive the session's end. All are asked to end and
# get three seconds (Orca says goodbye); whatever is left then is killed.
cleanup() {
    set +e
    if [ -n "$session" ]; then
        kill -TERM -- "-$session" 2>/dev/null
        for _ in $(seq 30); do
            kill -0 -- "-$session" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL -- "-$session" 2>/dev/null
    fi
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# The program reads the election file beside itself; the driver fills it.
cp "$bindir/pollaris" "$work/"
echo admin | "$bindir/pollaris-admin" new --admin admin --password-stdin "$work/candpos4.mdb" >/dev/null

# shellcheck source=xvfb.sh
. "$here/xvfb.sh"
start_xvfb "$work/xvfb.log"
[ -n "$xvfb" ] || { echo "no free display for Xvfb"; exit 1; }

# Orca keeps its settings, and the accessibility bus its socket, under the home
# and the runtime folder: both are the test's own, so that the user's own
# settings are neither read nor changed. Settings go to memory, not to dconf.
mkdir -p "$work/home" "$work/run"
chmod 700 "$work/run"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" GSETTINGS_BACKEND=memory
unset SPEECHD_ADDRESS

# A private session bus; the accessibility bus is started on it when first asked for.
setsid dbus-run-session -- "$python" "$here/orca_road.py" "$work/pollaris" "$work/candpos4.mdb" &
session=$!
wait "$session"
