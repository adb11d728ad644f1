#!/usr/bin/env bash
# The package's postinst reloads the udev rules and triggers the reader's devices, and does not
# fail the installation where udev cannot be reached. usage: Postinst.sh POSTINST
set -euo pipefail
postinst=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat >"$fake/udevadm" <<'FAKE'
#!/bin/sh
echo "$*" >>"$(dirname "$0")/calls"
exit 1
FAKE
chmod +x "$fake/udevadm"

PATH="$fake:$PATH" sh "$postinst" configure || { echo "postinst failed when udevadm fails"; exit 1; }
grep -qx 'control --reload-rules' "$fake/calls" || { echo "no rule reload:"; cat "$fake/calls"; exit 1; }
grep -q '^trigger .*--subsystem-match=tty' "$fake/calls" || { echo "no tty trigger:"; cat "$fake/calls"; exit 1; }
grep -q '^trigger .*--attr-match=idVendor=10c4' "$fake/calls" || { echo "no usb trigger"; exit 1; }

rm "$fake/calls"
PATH="$fake:$PATH" sh "$postinst" abort-upgrade
[ ! -e "$fake/calls" ] || { echo "udevadm called outside configure"; exit 1; }
