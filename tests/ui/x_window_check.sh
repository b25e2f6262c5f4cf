#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The real window under a real X server (Xvfb): a browser's paste of HTML and
# rendered text, an HTML-only clipboard, and a Latin-1 file named on the
# command line. xdotool types the keys; the result comes back through the
# clipboard (Ctrl+Shift+C, read by xclip). Leaves x-paste.png, a picture of
# the screen after the paste, and x-latin1.png, in the output folder.
#
#   x_window_check.sh TAMSEL X_HELPER OUTPUT_FOLDER
# Exits 77 (skipped) when Xvfb, xdotool or xclip is missing.
set -uo pipefail
tamsel=$1 helper=$2 out=$3
for tool in Xvfb xdotool xclip; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a display number nobody uses and tells it.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
n=""
for _ in $(seq 100); do
  n=$(cat "$work/display" 2>/dev/null)
  [ -n "$n" ] && break
  sleep 0.05
done
[ -n "$n" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$n" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
xdotool getmouselocation >/dev/null 2>&1 || { echo "Xvfb does not answer"; cat "$work/xvfb.log"; exit 1; }

failures=0
check() { # name expected actual
  if [[ "$3" == *"$2"* ]]; then
    echo "ok: $1: $2"
  else
    echo "FAILED: $1: expected $2 in:"; printf '%s\n' "$3" | sed 's/^/  | /'
    failures=$((failures + 1))
  fi
}

# Starts the window (with any arguments), waits for it and gives it the focus.
start_window() {
  "$tamsel" "$@" >"$work/tamsel.log" 2>&1 &
  window_pid=$!
  pids+=($window_pid)
  window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$window_pid" --name 'Tamsel' | head -1)
  [ -n "$window" ] || { echo "the window did not appear"; cat "$work/tamsel.log"; exit 1; }
  xdotool windowfocus --sync "$window"
  sleep 0.3
}

# The whole output, by the window's own Ctrl+Shift+C.
output() {
  xdotool key --clearmodifiers ctrl+shift+c
  sleep 0.3
  timeout 5 xclip -o -selection clipboard
}

html='<h2>Intro</h2><p>Hello <b>world</b> and <a href="http://example.com/">a link</a></p>'

# 1. Copied in a browser: HTML and its rendered text.
"$helper" offer "<meta charset='utf-8'>$html" $'Intro\nHello world and a link' >"$work/offer.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/offer.log" && break; sleep 0.05; done
targets=$(timeout 5 xclip -o -selection clipboard -t TARGETS)
check "clipboard offers" "text/html" "$targets"
check "clipboard offers" "UTF8_STRING" "$targets"
start_window
xdotool key --clearmodifiers ctrl+v
sleep 0.5
"$helper" shot "$out/x-paste.png" && echo "picture: $out/x-paste.png"
result=$(output)
check "browser paste" "===== Intro =====" "$result"
check "browser paste" "**world**" "$result"
check "browser paste" "[[http://example.com/|a link]]" "$result"

# 2. A clipboard with HTML only (xclip owns the one type): pasted over all.
printf '%s' "<p><i>only</i> HTML</p>" | xclip -selection clipboard -t text/html
sleep 0.2
xdotool key --clearmodifiers ctrl+a ctrl+v
sleep 0.3
check "HTML-only paste" "//only// HTML" "$(output)"
# Firefox offers its HTML as UTF-16 with a byte order mark.
printf '\xff\xfe<\0p\0>\0\xac\x20<\0/\0p\0>\0' | xclip -selection clipboard -t text/html
sleep 0.2
xdotool key --clearmodifiers ctrl+a ctrl+v
sleep 0.3
check "UTF-16 HTML paste" "€" "$(output)"
kill "$window_pid"; wait "$window_pid" 2>/dev/null

# 3. tamsel old.html with a Latin-1 page.
printf '<html><head><meta http-equiv="Content-Type" content="text/html; charset=iso-8859-1"></head><body><h1>M\xfcnchen</h1><p>Gr\xfc\xdfe, \xa9 2001</p></body></html>' >"$work/old.html"
start_window "$work/old.html"
"$helper" shot "$out/x-latin1.png" && echo "picture: $out/x-latin1.png"
result=$(output)
check "Latin-1 file" "====== München ======" "$result"
check "Latin-1 file" "Grüße, © 2001" "$result"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all X checks passed"
