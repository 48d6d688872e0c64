#!/bin/bash
# The Debian package on a real system: run inside the test virtual machine
# (driver/tests/vm/corvimus-vm.sh), as root, on this machine's root under a memory overlay, so
# that dpkg and apt-get change nothing here. Every dependency is installed already; apt-get needs
# no network.
#
#   package-in-vm.sh DEB
#
# The package is installed with apt-get and its programs are run from /usr; then it is removed
# both ways a user may take: apt-get purge, and the removal tool the uninstaller runs. Each time,
# what the guest changed on the root is compared with how it was before the installation: nothing
# of the package may be left (the package tools' own records, caches and logs aside).
set -u
deb="$1"
changes=/run/corvimus-vm/changes
host=/run/corvimus-vm/host
work="$(mktemp -d)"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
step() { echo "== $*"; }

[ -d "$changes" ] && [ -d "$host/usr" ] || { echo "not in the test virtual machine" >&2; exit 2; }
[ -r "$deb" ] || { echo "no package at $deb" >&2; exit 2; }

# What the guest changed on the root, one line a path, sorted: "+ path" made, "- path" deleted,
# "~ path" a file whose content or kind changed. Folders that only hold changes below them, and
# files rewritten with the same content, are not listed. The package tools' own database, caches and
# logs, and the scratch folders, are left out. The caches other packages' triggers rebuild from
# what is installed (icons, desktop entries' MIME types) count as changed only while they name
# something of this package's.
rebuilt_caches=" usr/share/icons/hicolor/icon-theme.cache usr/share/applications/mimeinfo.cache "
changed() {
  (cd "$changes" && find . -mindepth 1 \( -path ./var/lib/dpkg -o -path ./var/lib/apt \
    -o -path ./var/cache -o -path ./var/log -o -path ./tmp -o -path ./root \) -prune -o -print) |
    sed 's|^\./||' | while IFS= read -r p; do
      if [ -c "$changes/$p" ] && [ "$(stat -c '%t:%T' "$changes/$p")" = "0:0" ]; then
        echo "- $p"
      elif [ -e "$host/$p" ] || [ -L "$host/$p" ]; then
        if [ -L "$changes/$p" ] || [ -L "$host/$p" ]; then
          [ "$(readlink "$changes/$p")" = "$(readlink "$host/$p")" ] || echo "~ $p"
        elif [ -d "$changes/$p" ] && [ -d "$host/$p" ]; then
          :
        elif [[ "$rebuilt_caches" == *" $p "* ]]; then
          grep -aqiE 'corvimus|kelvane' "$changes/$p" && echo "~ $p (names the package)"
        elif ! cmp -s "$changes/$p" "$host/$p"; then
          echo "~ $p"
        fi
      else
        echo "+ $p"
      fi
    done | LC_ALL=C sort
}

# apt-get as a user would call it, but with nothing to fetch and nothing to ask.
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -y -q -o Dpkg::Use-Pty=0 --no-install-recommends "$@"
}

installed_state() { dpkg-query -W -f='${db:Status-Abbrev}' corvimus 2>/dev/null; }

# Waits up to $2 seconds for the file $1 to exist.
wait_for() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

install_package() {
  step "apt-get install $deb"
  if ! apt_get install "$deb"; then
    fail "apt-get install failed"
    return 1
  fi
  [ "$(installed_state)" = "ii " ] || fail "dpkg says '$(installed_state)', not installed"
}

# The removal left nothing: the package is unknown to dpkg, its scripts and lists are gone, and the
# root holds what it held before the installation.
expect_nothing_left() {
  local state
  state="$(installed_state)"
  [ -z "$state" ] || [ "$state" = "un " ] || fail "dpkg still knows the package: '$state'"
  ls /var/lib/dpkg/info/corvimus.* >/dev/null 2>&1 && fail "dpkg keeps $(ls /var/lib/dpkg/info/corvimus.*)"
  changed >"$work/after"
  LC_ALL=C comm -13 "$work/before" "$work/after" >"$work/left" || fail "cannot compare the root's changes"
  LC_ALL=C comm -23 "$work/before" "$work/after" >"$work/undone" || fail "cannot compare the root's changes"
  if [ -s "$work/left" ] || [ -s "$work/undone" ]; then
    fail "the root is not as it was before the installation:"
    sed 's/^/    now: /' "$work/left"
    sed 's/^/    gone: /' "$work/undone"
  fi
}

bin=/usr/lib/corvimus
kext="$bin/Extensions/Corvimus.kext/Contents"
rmkvcv="$bin/Applications/Utilities/Corvimus Uninstaller.app/Contents/Resources/rmkvcv"

# man-db's trigger rebuilds the whole manual index on every installation and removal, minutes under
# emulation; man finds the pages without it.
rm -f /var/lib/man-db/auto-update
changed >"$work/before"

install_package || exit 1

step "the files are in /usr, the service enabled as Debian enables services"
for f in /usr/bin/corvimus-prefs /usr/bin/corvimus-loginwindow "$kext/MacOS/corvimusd" "$rmkvcv" \
  /usr/lib/systemd/system/corvimusd.service /etc/xdg/autostart/corvimus-loginwindow.desktop \
  /usr/share/applications/corvimus-settings.desktop /usr/share/metainfo/com.kelvane.mouse.metainfo.xml \
  /usr/share/applications/corvimus-button-tester.desktop /usr/share/bash-completion/completions/corvimus-prefs \
  /usr/share/icons/hicolor/scalable/apps/com.kelvane.mouse.svg; do
  [ -e "$f" ] || fail "missing: $f"
done
[ "$(man -w corvimusd 2>/dev/null)" = /usr/share/man/man8/corvimusd.8.gz ] || fail "man -w corvimusd: $(man -w corvimusd 2>&1)"
[ "$(man -w corvimus-prefs 2>/dev/null)" = /usr/share/man/man1/corvimus-prefs.1.gz ] ||
  fail "man -w corvimus-prefs: $(man -w corvimus-prefs 2>&1)"
wants=/etc/systemd/system/multi-user.target.wants/corvimusd.service
[ -L "$wants" ] && [ -e "$wants" ] || fail "corvimusd.service is not enabled ($wants)"
grep -q '^ExecStart="/usr/lib/corvimus/' /usr/lib/systemd/system/corvimusd.service ||
  fail "the unit does not start the driver in /usr"

step "the programs run from /usr"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
prefs="$work/prefs"
corvimus-prefs init --file "$prefs" || fail "corvimus-prefs init: status $?"
corvimus-prefs check --file "$prefs" || fail "corvimus-prefs check: status $?"
[ -n "$(corvimus-prefs show --file "$prefs")" ] || fail "corvimus-prefs show says nothing"
corvimus-loginwindow || fail "corvimus-loginwindow without login items: status $?"
"$rmkvcv" || fail "rmkvcv without its argument: status $?"
[ -e "$kext/MacOS/corvimusd" ] || fail "rmkvcv without its argument removed the driver"

# The simulated driver, with the agent taking up its mice.
sim_in="$work/sim.in"
mkfifo "$sim_in"
"$kext/MacOS/corvimus-simdriver" --mice 1 <"$sim_in" >"$work/sim.out" 2>&1 &
sim=$!
exec 7>"$sim_in"
wait_for "$XDG_RUNTIME_DIR/corvimus/driver.sock" 30 || fail "corvimus-simdriver did not listen"
"$bin/Library/PreferencePanes/Corvimus.prefPane/Contents/Resources/CorvimusHelper.app/Contents/MacOS/CorvimusHelper" \
  >"$work/agent.out" 2>&1 &
agent=$!
# The agent gives the mouse the record of the user's settings as soon as it sees it.
pushed=no
for ((i = 0; i < 300; i++)); do
  echo show >&7
  sleep 0.2
  if grep 'record:' "$work/sim.out" | tail -n 1 | grep -vq 'none received'; then
    pushed=yes
    break
  fi
done
[ "$pushed" = yes ] || fail "the agent gave the simulated mouse no record: $(cat "$work/agent.out")"
kill -0 "$agent" 2>/dev/null || fail "CorvimusHelper ended: $(cat "$work/agent.out")"
kill -INT "$agent"
wait "$agent" || fail "CorvimusHelper did not end cleanly on SIGINT: status $?"
echo quit >&7
exec 7>&-
wait "$sim" || fail "corvimus-simdriver: status $?"

# The driver for real mice, on a socket of its own (the virtual machine has no mice to take).
echo "" >"$work/seat"
"$kext/MacOS/corvimusd" --socket "$work/driver.sock" --seat-file "$work/seat" >"$work/driver.out" 2>&1 &
driver=$!
wait_for "$work/driver.sock" 30 || fail "corvimusd did not listen: $(cat "$work/driver.out")"
kill -TERM "$driver"
wait "$driver" || fail "corvimusd did not end cleanly on SIGTERM: status $? $(cat "$work/driver.out")"

# The settings window, without a display.
QT_QPA_PLATFORM=offscreen "$bin/Applications/System Preferences.app/Contents/MacOS/System Preferences" \
  --pane "$bin/Library/PreferencePanes/Corvimus.prefPane" >"$work/host.out" 2>&1 &
panehost=$!
sleep 5
kill -0 "$panehost" 2>/dev/null || fail "the settings window ended at once: $(cat "$work/host.out")"
kill -TERM "$panehost" 2>/dev/null
wait "$panehost" 2>/dev/null

# The button tester draws its window, offscreen, into a picture and ends.
tester="$bin/Applications/Mouse Button Tester.app/Contents/MacOS/Mouse Button Tester"
QT_QPA_PLATFORM=offscreen timeout 60 "$tester" --screenshot "$work/tester.png" --after 200 \
  >"$work/tester.out" 2>&1 || fail "the button tester: status $? $(cat "$work/tester.out")"
[ "$(head -c 8 "$work/tester.png" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "the button tester drew no picture: $(cat "$work/tester.out")"
unset HOME XDG_CONFIG_HOME XDG_RUNTIME_DIR

step "apt-get purge"
apt_get purge corvimus || fail "apt-get purge failed"
expect_nothing_left

step "the removal tool of the uninstaller, on an installation from the package"
install_package || exit 1
# A user whose login items start the agent, among others; the tool works in his home with his
# rights (nobody's here), and the package manager never looks there.
users="$work/users"
alice="$users/alice"
mkdir -p "$alice/.config"
cat >"$alice/.config/loginwindow.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>AutoLaunchedApplicationDictionary</key>
	<array>
		<dict>
			<key>Hide</key>
			<false/>
			<key>Path</key>
			<string>/usr/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane/Contents/Resources/CorvimusHelper.app</string>
		</dict>
		<dict>
			<key>Hide</key>
			<false/>
			<key>Path</key>
			<string>/usr/bin/xterm</string>
		</dict>
	</array>
</dict>
</plist>
PLIST
chown -R 65534:65534 "$alice"
chmod 755 "$work"
CORVIMUS_USERS_DIR="$users" "$rmkvcv" --rmcvms
status=$?
[ "$status" -eq 0 ] || fail "rmkvcv --rmcvms: status $status"
grep -q CorvimusHelper "$alice/.config/loginwindow.plist" && fail "alice's login item of the agent is still there"
grep -q /usr/bin/xterm "$alice/.config/loginwindow.plist" || fail "alice's other login item went"
expect_nothing_left

rm -rf "$work"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the package installs, runs from /usr and leaves nothing when removed"
exit 0
