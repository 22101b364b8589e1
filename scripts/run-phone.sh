#!/bin/sh
# Boots the simulated phone from a build folder and shows it: in an SDL window when a display is
# there, otherwise headless in the background with a note on how to drive it.
set -eu
BUILD=${1:-build}
DEVICE=${2:-}
BIN="$BUILD/bin"
[ -x "$BIN/lumo-device" ] || { echo "run-phone: $BIN/lumo-device is missing; build first" >&2; exit 1; }
[ -n "$DEVICE" ] || DEVICE="${LUMO_DEVICE:-${XDG_DATA_HOME:-$HOME/.local/share}/lumo/phone}"
mkdir -p "$DEVICE"
CTL="$BIN/lumo-devctl --device $DEVICE"

if "$BIN/lumo-devctl" --device "$DEVICE" status >/dev/null 2>&1; then
    echo "A phone already runs in $DEVICE."
    echo "Stop it with: $CTL shutdown"
    exit 0
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Booting the phone in $DEVICE (close the window or press Ctrl+C to switch it off)."
    echo "Answer message boxes by tapping them (or Enter / Escape); drive the phone from another"
    echo "terminal with: $CTL --help"
    exec "$BIN/lumo-device" --device "$DEVICE"
fi

"$BIN/lumo-device" --device "$DEVICE" --headless --detach
cat <<MSG
No display found, so the phone runs headless in the background.
  Device folder:  $DEVICE  (log: $DEVICE/device.log)
  Screenshots:    $DEVICE/screenshots/  ($CTL screenshot saves the next one there)
  On a new phone the service first asks two questions: $CTL dialog press ok (twice).
  Drive it with:
    $CTL status
    $CTL windows
    $CTL drag 60 700 420 700      (slide along the bottom of the screen)
    $CTL tap 240 400
    $CTL reg get HKCU 'Software\\Vesk\\Lumo'
    $CTL --help                   (every verb)
    $CTL shutdown                 (switch it off)
MSG
