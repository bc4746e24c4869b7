#!/usr/bin/env bash
# shellcheck disable=SC2317 # functions called from the trap and through until_
# The Debian package, built as the README builds it (Release, no tests), then read
# back: its files and their modes, its control fields, its maintainer scripts run
# against a scratch root that holds an election file of the old layout, and
# lintian. As root it is then installed on this machine and an election is run
# on it by the election-day account, a member of the group pollaris and not root:
# pollaris-admin, then a vote and an administrator's change in the installed
# program under a virtual display, and a vote at a polling station of a server
# reached over TCP with TLS as the stations' role (pictures in
# BUILD_DIR/installed-*.png). Before there is an election, the installed kiosk's
# start error is looked at under a headless cage.
# Exits 77 (skipped) where the Debian tools are missing.
#   package_check.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# What the checks below leave behind is undone also when they fail or are stopped.
root="" work="" xvfb="" runner="" ended="" account="" installed=false data_made=false pg_dir="" road=""
data=/var/lib/pollaris
# The program, started by its account, and the runuser that waits for it.
stop_program() {
    if [ -n "$runner" ] && kill -0 "$runner" 2>/dev/null; then
        local pid
        pid=$(cat "$work/home/pollaris.pid" 2>/dev/null || true)
        [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
        kill "$runner" 2>/dev/null || true
    fi
    if [ -n "$runner" ]; then
        ended=0
        wait "$runner" 2>/dev/null || ended=$?
        runner=""
    fi
    return 0
}
cleanup() {
    set +e
    stop_program
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    [ -n "$pg_dir" ] && bash "$src/scripts/pg-cluster" stop "$pg_dir"
    if $installed; then
        dpkg --purge pollaris >/dev/null 2>&1 || echo "note: dpkg --purge pollaris failed"
    fi
    # The data folder did not exist before the check: everything in it is the check's.
    if $data_made && [ -d "$data" ]; then
        rm -f "$data/candpos4.mdb" "$data/candpos4.mdb-journal" "$data/candpos4.mdb-wal" "$data/candpos4.mdb-shm"
        rmdir "$data" || echo "note: $data was left, it holds: $(ls -A "$data")"
    fi
    [ -n "$account" ] && userdel --force "$account"
    [ -n "$work" ] && rm -rf "$work"
    [ -n "$root" ] && rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
targets=$(cmake --build "$build" --target help)
grep -qE 'tst_|pollaris-bench' <<<"$targets" && fail "BUILD_TESTING=OFF still builds tests or the benchmark"
rm -f "$build"/pollaris_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/pollaris_*.deb)

# Files: root's, nothing under the program's folder writable by anyone else.
contents=$(dpkg-deb -c "$deb")
echo "$contents"
while read -r mode owner _ _ _ path rest; do
    [ "$owner" = root/root ] || fail "$path is owned by $owner"
    case $mode in l*) continue ;; esac
    case $path in ./usr/lib/pollaris/*) [[ ${mode:5:1}${mode:8:1} == -- ]] || fail "$path is writable: $mode" ;; esac
done <<<"$contents"
grep -qxE 'lrwxrwxrwx root/root +0 [-0-9]+ [:0-9]+ \./usr/lib/pollaris/candpos4\.mdb -> /var/lib/pollaris/candpos4\.mdb' \
    <<<"$contents" || fail "no link from the program's folder to /var/lib/pollaris/candpos4.mdb"
for f in usr/bin/pollaris-kiosk usr/share/wayland-sessions/pollaris-kiosk.desktop usr/share/doc/pollaris/copyright \
    usr/share/doc/pollaris/changelog.gz usr/share/man/man1/pollaris.1.gz usr/share/man/man1/pollaris-admin.1.gz \
    usr/share/man/man1/pollaris-kiosk.1.gz; do
    grep -q " \./$f\$" <<<"$contents" || fail "$f is missing"
done
grep -qE '^-rwxr-xr-x .* \./usr/bin/pollaris-kiosk$' <<<"$contents" || fail "pollaris-kiosk is not 0755"
grep -qE ' \./var/' <<<"$contents" && fail "the package itself holds /var: its scripts make the data folder"

info=$(dpkg-deb -I "$deb")
grep -qE '^ Recommends:.*\bcage\b.*\bqt6-wayland\b' <<<"$info" || fail "cage and qt6-wayland are not recommended"
grep -qE '^ Maintainer: .*<[^@]+@[a-z0-9-]+(\.[a-z0-9-]+)+>$' <<<"$info" || fail "no real maintainer address"
grep -q localhost <<<"$info" && fail "a maintainer address on localhost"

# The maintainer scripts against a scratch root (DPKG_ROOT, as dpkg runs them) in
# which an earlier version left the election file, with a journal, in a program
# folder opened to the group.
if [ "$(id -u)" -eq 0 ]; then
    root=$(mktemp -d)
    mkdir -p "$root/etc" "$root/usr/lib/pollaris" "$root/control"
    cp /etc/passwd /etc/group /etc/login.defs "$root/etc/"
    grep -v '^pollaris:' /etc/group >"$root/etc/group"
    : >"$root/etc/gshadow"
    chmod 0775 "$root/usr/lib/pollaris"
    echo "the votes" >"$root/usr/lib/pollaris/candpos4.mdb"
    echo "a hot journal" >"$root/usr/lib/pollaris/candpos4.mdb-journal"
    chmod 0664 "$root/usr/lib/pollaris/candpos4.mdb"
    dpkg-deb -e "$deb" "$root/control"
    export DPKG_ROOT=$root
    "$root/control/preinst" upgrade 0.0.9
    dpkg-deb -x "$deb" "$root"
    "$root/control/postinst" configure 0.0.9
    gid=$(awk -F: '$1 == "pollaris" { print $3 }' "$root/etc/group")
    [ -n "$gid" ] || fail "postinst made no group pollaris"
    [ "$(stat -c '%a %u %g' "$root/var/lib/pollaris")" = "2775 0 $gid" ] ||
        fail "/var/lib/pollaris is $(stat -c '%a %u %g' "$root/var/lib/pollaris"), not 2775 root pollaris"
    [ "$(stat -c '%a %u' "$root/usr/lib/pollaris")" = "755 0" ] || fail "the program's folder is still open to others"
    [ "$(cat "$root/var/lib/pollaris/candpos4.mdb" 2>/dev/null)" = "the votes" ] || fail "the old election file was lost"
    [ "$(cat "$root/var/lib/pollaris/candpos4.mdb-journal" 2>/dev/null)" = "a hot journal" ] ||
        fail "the old file's journal was not moved with it"
    [ "$(stat -c '%a %g' "$root/var/lib/pollaris/candpos4.mdb")" = "660 $gid" ] || fail "the moved file is not 0660 pollaris"
    [ "$(readlink "$root/usr/lib/pollaris/candpos4.mdb")" = /var/lib/pollaris/candpos4.mdb ] || fail "no link after unpacking"
    rm -f "$root/var/lib/pollaris/candpos4.mdb-journal"
    for action in remove purge; do
        said=$("$root/control/postrm" "$action" 2>&1)
        [ -f "$root/var/lib/pollaris/candpos4.mdb" ] || fail "$action deleted the election file"
        grep -q "$root/var/lib/pollaris" <<<"$said" || fail "$action does not say where the election was kept: $said"
    done
    rm -f "$root/var/lib/pollaris/candpos4.mdb"
    "$root/control/postrm" purge
    [ ! -e "$root/var/lib/pollaris" ] || fail "purge left an empty /var/lib/pollaris"
    unset DPKG_ROOT
else
    echo "note: not root, the maintainer scripts were not run"
fi

# The package installed on this machine as the README has it, and an election
# run on it. Root makes the file and the ballot; the election-day account, whose
# only group besides its own is pollaris, registers a voter with
# pollaris-admin, then in the installed program a voter logs in and votes with
# real key presses and an administrator changes the password with clicks. Root
# passes every permission check: only such an account meets a file or folder
# the program needs and cannot write. A machine that holds a real election, or
# the package, is left alone.

# The newest showing window of that caption, nothing when there is none.
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1; }
showing() { [ -n "$(window "$1")" ]; }
# Every showing window with a caption, one caption a line.
captions() {
    local id
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do xdotool getwindowname "$id"; done
}
shot() {
    if import -window root "$build/installed-$road$1.png"; then
        echo "picture: $build/installed-$road$1.png"
    else
        fail "no picture of the display ($1)"
    fi
}
# Waits until the command succeeds, and gives up after 30 seconds or as soon as
# the program has ended.
until_() { # what command...
    local what=$1
    shift
    for _ in $(seq 300); do
        "$@" && return 0
        if ! kill -0 "$runner" 2>/dev/null; then
            stop_program
            fail "the program ended with status $ended while waiting for $what"
            return 1
        fi
        sleep 0.1
    done
    fail "gave up waiting for $what; showing: $(captions | paste -sd '|')"
    return 1
}
# Real key presses into the showing window of that caption ("type:TEXT" types TEXT).
press() { # caption key...
    local id key
    id=$(window "$1")
    [ -n "$id" ] || { fail "no window '$1' to type into"; return 1; }
    shift
    timeout 30 xdotool windowfocus --sync "$id" || { fail "window $id took no focus"; return 1; }
    for key; do
        case $key in
        type:*) xdotool type --delay 40 "${key#type:}" ;;
        *) xdotool key --clearmodifiers "$key" ;;
        esac
    done
}
# A click in the middle of a control, placed in twips as the screens place it.
click() { # caption left top width height
    local id
    id=$(window "$1")
    [ -n "$id" ] || { fail "no window '$1' to click in"; return 1; }
    timeout 30 xdotool windowfocus --sync "$id" || { fail "window $id took no focus"; return 1; }
    xdotool mousemove --window "$id" $((($2 + $4 / 2) / 15)) $((($3 + $5 / 2) / 15)) click 1
}
login_showing() { showing "Voter's Login"; }
box_over_login() { login_showing && showing Pollaris; }
ballot_showing() { ! login_showing && showing Pollaris; }
thanks_showing() { showing "Your vote has been added"; }
# The main menu alone, no box over anything.
only_menu() { [ "$(captions)" = Pollaris ]; }
panel_alone() { [ "$(captions)" = "Pollaris Administrator's Panel" ]; }
admin_login_showing() { showing "Administrator Log In"; }
password_showing() { showing "Change Admin Password"; }
program_ended() { ! kill -0 "$runner" 2>/dev/null; }

# The voter's road, with the keyboard: the focus starts on Voter Log In, on the
# log-in's Cancel, and on the ballot's Done. Down picks the first position and
# its first candidate: President and Maria Santos (C001) in the sample election.
vote_road() {
    until_ "the main menu" only_menu &&
        press Pollaris Return &&
        until_ "the voter log-in" login_showing &&
        press "Voter's Login" shift+Tab type:2026001 shift+Tab type:vote1 shift+Tab Return &&
        until_ "the box after the log-in" box_over_login || return 1
    # The one-log-in warning when the account was marked, the error box when not.
    shot after-login
    press Pollaris Return || return 1
    if ! until_ "the ballot" ballot_showing; then
        echo "the box after the log-in is in $build/installed-after-login.png"
        return 1
    fi
    press Pollaris shift+Tab Down shift+Tab Down shift+Tab Return shift+Tab Return &&
        until_ "the thanks" thanks_showing || return 1
    shot thanks
    press "Your vote has been added" Return &&
        until_ "the main menu after the vote" only_menu
}
# The same voter's road at a polling station of a server: the installed program, as the
# account, reaches a cluster of the check's own over TCP with TLS (verify-full) as the
# stations' role, which may take votes and nothing else, and goes on by itself after the
# server restarts under it; root makes the election there
# with the installed pollaris-admin and reads the vote back with psql.
server_road() {
    local conn port station
    if [ ! -x /usr/lib/postgresql/15/bin/psql ]; then
        echo "note: PostgreSQL 15 is not installed, the installed program was not run against a server"
        return 0
    fi
    pg_dir=$work/pg
    conn=$(bash "$src/scripts/pg-cluster" start "$pg_dir" tcp) || { fail "no PostgreSQL cluster for the station"; return 1; }
    printf 'admin\n' | pollaris-admin new --demo --admin admin --password-stdin --server "$conn" >/dev/null ||
        { fail "root could not put the election on the server"; return 1; }
    port=$(cat "$pg_dir/port")
    install -o "$account" -m 0644 "$pg_dir/root.crt" "$work/home/root.crt"
    (umask 077 && grep ':pollaris_station:' "$pg_dir/pgpass" >"$work/home/pgpass")
    chown "$account" "$work/home/pgpass"
    station="host=127.0.0.1 port=$port dbname=postgres user=pollaris_station sslmode=verify-full"
    station+=" sslrootcert=$work/home/root.crt"
    road=server-
    # shellcheck disable=SC2016 # $$, $0 and $HOME are the account's shell's
    as_account DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$work/home/run" QT_QPA_PLATFORM=xcb PGPASSFILE="$work/home/pgpass" \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$work/home/run/no-bus" \
        sh -c 'echo $$ >"$HOME/pollaris.pid"; exec /usr/bin/pollaris --server "$0" --station desk-7' "$station" \
        >"$work/pollaris-server.log" 2>&1 &
    runner=$!
    ended=""
    # The server restarted under the station once it is up: its next action finds the
    # connection gone, and it must reach the server again by itself.
    until_ "the station's main menu" only_menu && sleep 1 && bash "$src/scripts/pg-cluster" restart "$pg_dir" ||
        fail "the server could not be restarted under the station"
    if vote_road && click Pollaris 3120 3360 375 375 && until_ "the end after Exit at the station" program_ended; then
        stop_program
        [ "$ended" = 0 ] || fail "Exit ended the station with status $ended"
    else
        shot failed || true
    fi
    stop_program
    road=""
    [ -s "$work/pollaris-server.log" ] && { echo "the station's output:"; cat "$work/pollaris-server.log"; }
    q() { /usr/lib/postgresql/15/bin/psql -X -A -t -q "$conn" -c "$1" 2>&1; }
    [ "$(q "SELECT HasVoted FROM Users WHERE Username = '2026001'")" = t ] ||
        fail "the voter is not marked as having voted on the server"
    [ "$(q "SELECT string_agg(CandID || '=' || NumVotes, ' ') FROM CandVote WHERE NumVotes <> 0")" = C001=1 ] ||
        fail "not exactly the vote for Maria Santos on the server: $(q "SELECT string_agg(CandID || '=' || NumVotes, ' ') FROM CandVote")"
    [[ "$(q "SELECT string_agg(what, '|' ORDER BY seq) FROM pollaris_log WHERE station = 'desk-7'")" =~ \
        ^station\ started\|.*server.*\|station\ ended\ \(status\ 0\)$ ]] ||
        fail "the station's start, reconnection and end are not on the election's record: $(q "SELECT string_agg(station || ': ' || what, '|' ORDER BY seq) FROM pollaris_log")"
    echo "on the server: tallies $(q "SELECT string_agg(CandID || '=' || NumVotes, ' ' ORDER BY CandID) FROM CandVote")"
    echo "the station on the record: $(q "SELECT string_agg(what, ' | ' ORDER BY seq) FROM pollaris_log WHERE station = 'desk-7'")"
    bash "$src/scripts/pg-cluster" stop "$pg_dir" && pg_dir=""
}
# The administrator's road, with the mouse: log in, change the password, log out.
new_password=chosen-on-election-day
admin_road() {
    click Pollaris 4680 2640 2295 375 &&
        until_ "the administrator log-in" admin_login_showing &&
        click "Administrator Log In" 1320 360 3015 375 && press "Administrator Log In" type:admin &&
        click "Administrator Log In" 1320 1080 3015 375 && press "Administrator Log In" type:admin &&
        click "Administrator Log In" 240 1800 1695 375 &&
        until_ "the administrator's panel" panel_alone &&
        click "Pollaris Administrator's Panel" 240 4440 1695 435 &&
        until_ "the password change" password_showing &&
        click "Change Admin Password" 1440 1080 2895 375 && press "Change Admin Password" type:"$new_password" &&
        click "Change Admin Password" 1440 1800 2895 375 && press "Change Admin Password" type:"$new_password" &&
        click "Change Admin Password" 240 2760 1695 375 &&
        until_ "the panel after the change" panel_alone || return 1
    shot panel
    click "Pollaris Administrator's Panel" 5760 4440 1695 375 &&
        until_ "the main menu after the log-out" only_menu
}

# The installed kiosk with no election file, as the account, under a headless cage
# (turned, as a real display composes; see scripts/kiosk-screenshot) with Qt's
# PLATFORM: the error must name the file at the end of the link and sit whole in
# the middle of the kiosk's yellow display, with no title bar. The picture is
# BUILD_DIR/installed-kiosk-PLATFORM.png.
kiosk_start_error() { # platform
    local picture="$build/installed-kiosk-$1.png" socket="" cage_pid box=""
    rm -rf "$work/home/run"/*
    runuser -u "$account" -- env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/home/run" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 DBUS_SESSION_BUS_ADDRESS=disabled: POLLARIS_KIOSK=1 \
        LANG=C.UTF-8 QT_QPA_PLATFORM="$1" cage -r -r -- /usr/bin/pollaris-kiosk >"$work/cage-$1.log" 2>&1 &
    cage_pid=$!
    for _ in $(seq 100); do
        sleep 0.2
        socket=$(find "$work/home/run" -maxdepth 1 -name 'wayland-[0-9]*' ! -name '*.lock' -printf '%f\n' | head -1)
        [ -n "$socket" ] || continue
        runuser -u "$account" -- env -i XDG_RUNTIME_DIR="$work/home/run" WAYLAND_DISPLAY="$socket" \
            grim "$work/home/kiosk.png" 2>/dev/null || continue
        cp "$work/home/kiosk.png" "$picture"
        # What is not the kiosk's yellow: the box, once the program has drawn it.
        box=$(convert "$picture" -fuzz 2% -transparent 'rgb(255,255,192)' -trim -format '%w %h %X %Y' info: 2>/dev/null)
        [ "$(convert "$picture" -format '%[pixel:p{4,4}]' info:)" = "srgb(255,255,192)" ] &&
            [ "${box%% *}" -gt 200 ] 2>/dev/null && break
    done
    pkill -KILL -u "$account" || true
    wait "$cage_pid" 2>/dev/null || true
    find /tmp/.X11-unix /tmp -maxdepth 1 -user "$account" \( -name 'X[0-9]*' -o -name '.X[0-9]*-lock' \) \
        -delete 2>/dev/null || true
    echo "picture: $picture (the box, width height left top: ${box:-none})"
    local w h x y
    read -r w h x y <<<"${box:-0 0 0 0}"
    # Whole: a box of the error's two lines and its button, not a sliver or a
    # stretched window; in the middle, to a pixel or two of rounding.
    if [ "$w" -lt 400 ] || [ "$w" -gt 1000 ] || [ "$h" -lt 80 ] || [ "$h" -gt 200 ]; then
        fail "the kiosk's start error under $1 is $w x $h pixels (see $picture and $work/cage-$1.log)"
        return 1
    fi
    if [ $((2 * x + w - 1280)) -lt -4 ] || [ $((2 * x + w - 1280)) -gt 4 ] ||
        [ $((2 * y + h - 720)) -lt -4 ] || [ $((2 * y + h - 720)) -gt 4 ]; then
        fail "the kiosk's start error under $1 is not in the middle of the display: at $x,$y (see $picture)"
        return 1
    fi
    return 0
}

account=""
skip=""
if [ "$(id -u)" -ne 0 ]; then
    skip="not root"
elif ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    skip="Xvfb or xdotool is not installed"
elif ! command -v import >/dev/null || ! command -v sqlite3 >/dev/null; then
    skip="import (imagemagick) or sqlite3 is not installed"
elif [ -n "$(dpkg-query -W -f='${db:Status-Status}' pollaris 2>/dev/null | grep -vx not-installed || true)" ]; then
    skip="the package pollaris is already on this machine"
elif [ -e "$data" ] || [ -L "$data" ]; then
    skip="$data already exists and may hold a real election"
elif [ -e /usr/lib/pollaris ]; then
    skip="/usr/lib/pollaris already exists"
elif getent passwd pollaris-pkgtest >/dev/null; then
    skip="the account pollaris-pkgtest already exists"
fi
if [ -n "$skip" ]; then
    echo "note: $skip, the package was not installed on this machine"
else
    rm -f "$build"/installed-*.png
    work=$(mktemp -d)
    chmod 0711 "$work"
    data_made=true
    installed=true
    echo "installing $deb"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        -o DPkg::Lock::Timeout=300 "$(realpath "$deb")" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; fail "apt-get install of the package failed"; }
    [ "$(dpkg-query -W -f='${db:Status-Status}' pollaris 2>/dev/null)" = installed ] ||
        fail "the package is not installed"
    [ "$(stat -c '%a %U %G' "$data" 2>/dev/null)" = "2775 root pollaris" ] ||
        fail "$data is $(stat -c '%a %U %G' "$data" 2>&1), not 2775 root pollaris"

    # The election-day account: its own group and pollaris, a home of its own.
    account=pollaris-pkgtest
    useradd --system --user-group --groups pollaris --no-create-home --home-dir "$work/home" \
        --shell /usr/sbin/nologin "$account" || { account=""; fail "could not make the account pollaris-pkgtest"; }
    install -d -o "$account" -g "$account" -m 0700 "$work/home" "$work/home/run"

    # Before there is an election: the installed kiosk's start error, under both of
    # the man page's platforms.
    if [ -n "$account" ] && command -v cage >/dev/null && command -v grim >/dev/null; then
        kiosk_start_error wayland || true
        kiosk_start_error xcb || true
    else
        echo "note: cage or grim is not installed, the kiosk's start error was not looked at"
    fi

    # Root: the election file through the link, with the sample ballot and voters.
    grep -q -- --demo <<<"$(pollaris-admin new --help)" || fail "pollaris-admin new has no --demo"
    printf 'admin\n' | pollaris-admin new --demo --admin admin --password-stdin ||
        fail "root could not make the election file"
    if [ ! -f "$data/candpos4.mdb" ] || [ -L "$data/candpos4.mdb" ]; then fail "no election file made in $data"; fi
    [ "$(stat -c '%a %U %G' "$data/candpos4.mdb" 2>/dev/null)" = "660 root pollaris" ] ||
        fail "the election file is $(stat -c '%a %U %G' "$data/candpos4.mdb" 2>&1), not 660 root pollaris"
    [ "$(sqlite3 -readonly "$data/candpos4.mdb" "SELECT p.PosName, c.CandName FROM CandInfo c JOIN Positions p
        USING (PosID) WHERE c.CandID = 'C001'; SELECT count(*) FROM Users WHERE Username = '2026001' AND HasVoted = 0" \
        2>&1)" = "President|Maria Santos"$'\n'1 ] || fail "the sample election is not the one the voter's road expects"

fi
if [ -z "$skip" ] && [ -n "$account" ]; then
    [ "$(id -nG "$account")" = "$account pollaris" ] || fail "$account is in the groups $(id -nG "$account")"
    as_account() { runuser -u "$account" -- env -i HOME="$work/home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }

    # The account prepares the ballot too: a second voter into the installed file.
    printf 'Name,Student ID,Password\nPat Lopez,2026101,pkg101\n' >"$work/home/voters.csv"
    chown "$account" "$work/home/voters.csv"
    as_account pollaris-admin import-voters "$work/home/voters.csv" || fail "$account could not import a voter"
    as_account pollaris-admin status || fail "$account could not read the election with pollaris-admin status"

    # shellcheck source=xvfb.sh
    . "$(dirname "$0")/xvfb.sh"
    start_xvfb "$work/xvfb.log"
    if [ -z "$xvfb" ]; then
        fail "no free display for Xvfb"
    else
        # The installed launcher, as the account; the program notes its own id for the clean-up.
        # No session bus: without an address Qt would start one through dbus-launch,
        # which would outlive the program.
        # shellcheck disable=SC2016 # $$ and $HOME are the account's shell's
        as_account DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$work/home/run" QT_QPA_PLATFORM=xcb \
            DBUS_SESSION_BUS_ADDRESS="unix:path=$work/home/run/no-bus" \
            sh -c 'echo $$ >"$HOME/pollaris.pid"; exec /usr/bin/pollaris' >"$work/pollaris.log" 2>&1 &
        runner=$!
        ended=""
        if vote_road && admin_road && click Pollaris 3120 3360 375 375 &&
            until_ "the end after Exit" program_ended; then
            stop_program
            [ "$ended" = 0 ] || fail "Exit ended the program with status $ended"
        else
            shot failed || true
        fi
        stop_program
        [ -s "$work/pollaris.log" ] && { echo "the program's output:"; cat "$work/pollaris.log"; }
        server_road || true
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
        xvfb=""
    fi
    # Nothing of the account's is left running, and the account goes.
    left=$(ps -u "$account" -o pid=,args= || true)
    [ -z "$left" ] || fail "the account's processes are still there: $left"
    if userdel "$account"; then account=""; else fail "could not remove the account $account"; fi

    # The file afterwards, read by root.
    q() { sqlite3 -readonly "$data/candpos4.mdb" "$1" 2>&1; }
    [ "$(q "SELECT HasVoted FROM Users WHERE Username = '2026001'")" = 1 ] ||
        fail "the voter is not marked as having voted"
    [ "$(q "SELECT NumVotes FROM CandVote WHERE CandID = 'C001'")" = 1 ] ||
        fail "the vote for Maria Santos was not counted"
    total=$(q "SELECT sum(NumVotes) FROM CandVote")
    [ "$total" = 1 ] || fail "not exactly one vote in the file: $total"
    [ "$(q "SELECT Name, Password, HasVoted FROM Users WHERE Username = '2026101'")" = "Pat Lopez|pkg101|0" ] ||
        fail "the voter the account imported is not in the file"
    [ "$(q "SELECT AdminPassword FROM Administrators WHERE AdminUsername = 'admin'")" = "$new_password" ] ||
        fail "the administrator's new password is not in the file"
    mode=$(stat -c '%a %G' "$data/candpos4.mdb" 2>&1 || true)
    [ "$mode" = "660 pollaris" ] || fail "the election file is now $mode"
    left=$(find "$data" -mindepth 1 ! -name candpos4.mdb -printf '%f ' 2>&1 || true)
    [ -z "$left" ] || fail "left in $data beside the election file: $left"
    echo "in the file: HasVoted of 2026001 = $(q "SELECT HasVoted FROM Users WHERE Username = '2026001'");" \
        "tallies: $(q "SELECT CandID || '=' || NumVotes FROM CandVote" | paste -sd ' ')"
fi
if [ -z "$skip" ]; then
    # Purging keeps the election and says so; the program's folder goes.
    said=$(dpkg --purge pollaris 2>&1) || fail "dpkg --purge pollaris failed: $said"
    installed=false
    [ -f "$data/candpos4.mdb" ] || fail "purging the package deleted the election file"
    grep -q "$data" <<<"$said" || fail "purge does not say where the election was kept: $said"
    [ ! -e /usr/lib/pollaris ] || fail "purge left /usr/lib/pollaris"
    getent group pollaris >/dev/null || fail "purge removed the group pollaris"
fi

# lintian: every tag is printed; errors and warnings fail.
tags=$(lintian --display-level '>=pedantic' "$deb" 2>/dev/null || true)
echo "lintian: ${tags:-no tags}"
grep -qE '^[EW]: ' <<<"$tags" && fail "lintian reports errors or warnings"

[ "$failures" -eq 0 ] && echo "package check passed"
exit $((failures > 0))
