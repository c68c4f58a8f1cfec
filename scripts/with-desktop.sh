#!/usr/bin/env bash
# Runs a command on a desktop of its own: a private X server (Xvfb) on a free display with a
# window manager (openbox), so that window activation, modal boxes, captions and keys behave as on
# a user's desktop. Everything started here is stopped when the command ends.
#
# Without Xvfb or openbox it exits 77 (skipped), unless TARVELO_REQUIRE_DESKTOP is set: then it
# fails.
set -euo pipefail

missing=()
for tool in Xvfb openbox xprop; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "with-desktop: ${missing[*]} not installed (scripts/install-deps.sh installs them)" >&2
  [[ -n ${TARVELO_REQUIRE_DESKTOP:-} ]] && exit 1
  exit 77
fi

work=$(mktemp -d /tmp/tarvelo-desktop.XXXXXX)
xvfb_pid="" wm_pid=""
cleanup() {
  [[ -n $wm_pid ]] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display nobody holds: the lock file decides, and a server that loses the race for a number
# exits at once, so the next number is tried.
display=""
for n in $(seq 90 189); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -S /tmp/.X11-unix/X$n ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$xvfb_pid" 2>/dev/null && [[ -S /tmp/.X11-unix/X$n ]]; then
    display=":$n"
    break
  fi
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
if [[ -z $display ]]; then
  echo "with-desktop: no X server could be started" >&2
  cat "$work/xvfb.log" >&2 || true
  exit 1
fi
export DISPLAY=$display

# openbox with its stock configuration and a home of its own, so no user setting changes focus.
mkdir -p "$work/home"
wm_args=(--sm-disable)
[[ -r /etc/xdg/openbox/rc.xml ]] && wm_args+=(--config-file /etc/xdg/openbox/rc.xml)
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" openbox "${wm_args[@]}" >"$work/openbox.log" 2>&1 &
wm_pid=$!
# The window manager is up once it has announced itself on the root window.
for _ in $(seq 200); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  kill -0 "$wm_pid" 2>/dev/null || break
  sleep 0.05
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
  echo "with-desktop: the window manager did not start" >&2
  cat "$work/openbox.log" >&2 || true
  exit 1
fi

export QT_QPA_PLATFORM=xcb
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
set +e
"$@"
status=$?
set -e
exit "$status"
