#!/bin/bash
# Makes the Debian package from a built tree, as `./corvimus package` does, and checks it as Debian
# and software centres would, without installing it (package-in-vm.sh does that):
#
#   check-package.sh BUILD_DIR OUT_DIR
#
# - lintian finds no error (its warnings are printed; the ones kept are listed in docs/packaging.md);
# - the AppStream metadata validates, its release is the changelog's version and day;
# - every desktop entry validates, and names in Exec and TryExec programs the package holds;
# - every manual page renders without a warning from mandoc's lint or groff;
# - the programs are stripped, and the package depends on the libraries they link;
# - no receipt, no link into multi-user.target.wants and nothing below /usr/local are in it.
# The package is left in OUT_DIR as corvimus.deb for the test in the virtual machine.
set -u
build="$1"
out="$2"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

rm -rf "$out"
mkdir -p "$out"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  echo "FAIL: cpack could not make the package"
  exit 1
fi
debs=("$out"/corvimus_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: cpack made no single package: ${debs[*]}"; exit 1; }
mv "${debs[0]}" "$out/corvimus.deb"
deb="$out/corvimus.deb"
tree="$out/tree"
dpkg-deb -x "$deb" "$tree"
control="$(dpkg-deb -f "$deb")"
echo "$control"

# Run as root (the tests here are), lintian says it would rather not, and goes on.
lintian --fail-on error --tag-display-limit 0 --display-info "$deb" >"$out/lintian.txt" 2>&1
status=$?
cat "$out/lintian.txt"
[ "$status" -eq 0 ] || fail "lintian reports errors (status $status)"
grep -q '^E: ' "$out/lintian.txt" && fail "lintian: $(grep -c '^E: ' "$out/lintian.txt") error(s)"

version="$(dpkg-parsechangelog -l "$source_dir/packaging/debian/changelog" -S Version)"
day="$(date -u -d "$(dpkg-parsechangelog -l "$source_dir/packaging/debian/changelog" -S Date)" +%F)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
  fail "the package's version $(dpkg-deb -f "$deb" Version) is not the changelog's $version"

metainfo="$tree/usr/share/metainfo/com.kelvane.mouse.metainfo.xml"
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate: status $?"
  grep -q "<release version=\"$version\" date=\"$day\">" "$metainfo" ||
    fail "the metadata's release is not the changelog's version $version of $day"
  launchable="$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")"
  [ -f "$tree/usr/share/applications/$launchable" ] || fail "the metadata launches $launchable, not in the package"
  icon="$(sed -n 's|.*<icon type="stock">\(.*\)</icon>.*|\1|p' "$metainfo")"
  [ -f "$tree/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the metadata's icon $icon is not in the package"
else
  fail "no AppStream metadata in the package"
fi

# Desktop entries: valid, and what they start is in the package, at the path the entry names.
entries=("$tree"/usr/share/applications/*.desktop "$tree"/etc/xdg/autostart/*.desktop)
[ ${#entries[@]} -ge 3 ] || fail "desktop entries missing: ${entries[*]}"
for entry in "${entries[@]}"; do
  [ -f "$entry" ] || continue
  desktop-file-validate "$entry" || fail "desktop-file-validate ${entry#"$tree"}"
  exec_path="$(sed -n 's/^Exec="\([^"]*\)".*/\1/p; s/^Exec=\([^" ][^ ]*\).*/\1/p' "$entry" | head -n 1)"
  [ -n "$exec_path" ] && [ -x "$tree$exec_path" ] || fail "${entry#"$tree"} starts '$exec_path', not in the package"
  try_exec="$(sed -n 's/^TryExec=//p' "$entry")"
  [ -z "$try_exec" ] || [ "$try_exec" = "$exec_path" ] || fail "${entry#"$tree"}: TryExec $try_exec is not Exec $exec_path"
  icon="$(sed -n 's/^Icon=//p' "$entry")"
  [ -z "$icon" ] || [ -f "$tree/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "${entry#"$tree"}: icon $icon is not in the package"
done

# Manual pages: mandoc's lint and groff, as man renders them, find nothing to say.
pages=$(find "$tree/usr/share/man" -type f -name '*.gz' | sort)
[ -n "$pages" ] || fail "no manual pages in the package"
for page in $pages; do
  lint="$(mandoc -T lint -W warning "$page" 2>&1)" || fail "mandoc lint ${page#"$tree"}: $lint"
  [ -z "$lint" ] || fail "mandoc lint ${page#"$tree"}: $lint"
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "man -l ${page#"$tree"}: $warnings"
  grep -q '@[A-Z_]*@' <(zcat "$page") && fail "${page#"$tree"} keeps a placeholder: $(zgrep -o '@[A-Z_]*@' "$page" | head -n 1)"
done
for program in corvimus-prefs corvimusd rmkvcv CorvimusHelper corvimus-loginwindow corvimus-settings; do
  ls "$tree"/usr/share/man/man[18]/"$program".[18].gz >/dev/null 2>&1 || fail "no manual page for $program"
done

# Programs stripped of their debug information, and the libraries they link are dependencies.
elves=0
while IFS= read -r -d '' file; do
  kind="$(file -b "$file")"
  case "$kind" in ELF*) ;; *) continue ;; esac
  elves=$((elves + 1))
  case "$kind" in *"not stripped"*) fail "${file#"$tree"} is not stripped" ;; esac
done < <(find "$tree" -type f -print0)
[ "$elves" -ge 8 ] || fail "only $elves programs and libraries in the package"
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libqt6widgets6 libsystemd0 libevdev2 libplist; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

# What the package holds comes from the install rules, never from whatever a run left in the build.
empty="$(find "$tree" -mindepth 1 -type d -empty)"
[ -z "$empty" ] || fail "empty folders in the package: $empty"
misplaced="$(find "$tree" -path '*/multi-user.target.wants*' -o -path '*/usr/local*' -o -path '*/Receipts*')"
[ -z "$misplaced" ] || fail "the package holds what dpkg and the maintainer scripts should own: $misplaced"
grep -rlq '/usr/local' "$tree/usr/share/applications" "$tree/etc" "$tree/usr/lib/systemd" 2>/dev/null &&
  fail "an entry or unit names /usr/local: $(grep -rl '/usr/local' "$tree/usr/share/applications" "$tree/etc" "$tree/usr/lib/systemd")"

rm -rf "$tree"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the package is well made: $deb"
