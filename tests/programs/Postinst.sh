#!/usr/bin/env bash
# The package's postinst reloads the udev rules and triggers the reader's devices, and does not
# fail the installation where udev cannot be reached; it makes the agent's system user and group
# once, so that installing again works. usage: Postinst.sh POSTINST
set -euo pipefail
postinst=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat >"$fake/udevadm" <<'FAKE'
#!/bin/sh
echo "udevadm $*" >>"$(dirname "$0")/calls"
exit 1
FAKE
# Users and groups: none exists until "$fake/exists" does.
cat >"$fake/getent" <<'FAKE'
#!/bin/sh
[ -e "$(dirname "$0")/exists" ] || exit 2
FAKE
cat >"$fake/adduser" <<'FAKE'
#!/bin/sh
echo "adduser $*" >>"$(dirname "$0")/calls"
FAKE
sed 's/adduser/addgroup/' "$fake/adduser" >"$fake/addgroup"
chmod +x "$fake"/*
calls() { cat "$fake/calls" 2>/dev/null || true; }

PATH="$fake:$PATH" sh "$postinst" configure || { echo "postinst failed when udevadm fails"; exit 1; }
grep -qx 'udevadm control --reload-rules' "$fake/calls" || { echo "no rule reload:"; calls; exit 1; }
grep -q '^udevadm trigger .*--subsystem-match=tty' "$fake/calls" || { echo "no tty trigger:"; calls; exit 1; }
grep -q '^udevadm trigger .*--attr-match=idVendor=10c4' "$fake/calls" || { echo "no usb trigger"; exit 1; }
grep -q '^addgroup --system .*dorvik$' "$fake/calls" || { echo "no system group:"; calls; exit 1; }
grep -q '^adduser --system .*--ingroup dorvik .*--home /var/lib/dorvik dorvik$' "$fake/calls" ||
    { echo "no system user:"; calls; exit 1; }

rm "$fake/calls"
touch "$fake/exists"
PATH="$fake:$PATH" sh "$postinst" configure 0.1.0 || { echo "postinst failed on an upgrade"; exit 1; }
! grep -q '^add' "$fake/calls" || { echo "the user is made again:"; calls; exit 1; }

rm "$fake/calls"
PATH="$fake:$PATH" sh "$postinst" abort-upgrade
[ ! -e "$fake/calls" ] || { echo "udevadm or adduser called outside configure:"; calls; exit 1; }
