#!/usr/bin/env bash
# Starts the updater. With SIMULATE=auto it runs on simulated devices unless a
# USB serial port or a HID device is attached; SIMULATE=1 or 0 forces the choice.
set -euo pipefail
build=${1:-build}
simulate=${2:-auto}
cd "$(dirname "$0")/.."

if [ "$simulate" = auto ]; then
  if compgen -G "/dev/hidraw*" >/dev/null || compgen -G "/dev/ttyACM*" >/dev/null \
     || compgen -G "/dev/ttyUSB*" >/dev/null; then
    simulate=0
  else
    simulate=1
  fi
fi
args=()
[ "$simulate" = 1 ] && args+=(-simulate)

# Without a display (a server or CI shell) run under a virtual one.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting under xvfb-run."
  exec xvfb-run -a "$build/zel-updater" "${args[@]}"
fi
exec "$build/zel-updater" "${args[@]}"
