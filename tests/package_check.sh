#!/usr/bin/env bash
# The Debian package, built as the README builds it (Release, no tests), then read
# back: its files and their modes, its control fields, its maintainer scripts run
# against a scratch root that holds an election file of the old layout, and
# lintian. Exits 77 (skipped) where the Debian tools are missing.
#   package_check.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

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
    trap 'rm -rf "$root"' EXIT
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

# lintian: every tag is printed; errors and warnings fail.
tags=$(lintian --display-level '>=pedantic' "$deb" 2>/dev/null || true)
echo "lintian: ${tags:-no tags}"
grep -qE '^[EW]: ' <<<"$tags" && fail "lintian reports errors or warnings"

[ "$failures" -eq 0 ] && echo "package check passed"
exit $((failures > 0))
