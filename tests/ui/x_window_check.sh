#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The real window under a real X server (Xvfb): a browser's paste of HTML and
# rendered text, an HTML-only clipboard, a Latin-1 file named on the command
# line, clipboards with the flavours and bytes Chromium, Firefox, Google Docs
# and a Windows program offer, and typing into a large document while it
# converts. xdotool types the keys; the result comes back through the
# clipboard (Ctrl+Shift+C, read by xclip). Leaves pictures of the screen in
# the output folder: x-paste.png after the paste, x-latin1.png, x-firefox.png,
# x-busy.png while a large document converts.
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
export XDG_CONFIG_HOME="$work/config" # the window's settings, not the user's

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

check_absent() { # name unexpected actual
  if [[ "$3" != *"$2"* ]]; then
    echo "ok: $1: no $2"
  else
    echo "FAILED: $1: $2 in:"; printf '%s\n' "$3" | sed 's/^/  | /'
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

kill "$window_pid"; wait "$window_pid" 2>/dev/null

# 4. Clipboards as the browsers set them. Each flavour is a file of the bytes
# the program puts there; the helper owns the clipboard until the window takes
# it (Ctrl+Shift+C).
offer_files() { # TYPE FILE ...
  : >"$work/offer.log"
  "$helper" offer-files "$@" >"$work/offer.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q ready "$work/offer.log" && break; sleep 0.05; done
}
flavour() { # NAME TEXT: UTF-8
  printf '%s' "$2" >"$work/$1"
}
flavour16() { # NAME TEXT: UTF-16LE without a byte order mark, as Firefox writes
  printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE >"$work/$1"
}
paste_all() {
  xdotool key --clearmodifiers ctrl+a ctrl+v
  sleep 0.5
}
start_window

# Chromium: UTF-8 HTML with inline styles and no fragment markers, the page's
# address apart, relative links.
flavour chromium.html "<meta charset='utf-8'><h2 style=\"color: rgb(32, 33, 36); font-family: Roboto, sans-serif; font-size: 24px;\">Intro</h2><p style=\"color: rgb(32, 33, 36); font-family: Roboto, sans-serif;\">See <a href=\"/docs/a.html\" style=\"color: rgb(26, 115, 232);\">the docs</a> and <img src=\"img/x.png\" alt=\"x\"></p><br class=\"Apple-interchange-newline\">"
flavour chromium.txt $'Intro\nSee the docs and \n'
flavour chromium.url "https://example.org/guide/page.html"
offer_files text/html "$work/chromium.html" text/plain "$work/chromium.txt" chromium/x-source-url "$work/chromium.url"
paste_all
result=$(output)
check "Chromium paste" "===== Intro =====" "$result"
check "Chromium paste" "[[https://example.org/docs/a.html|the docs]]" "$result"
check "Chromium paste" "{{https://example.org/guide/img/x.png|x}}" "$result"
check_absent "Chromium paste" '\\' "$result"

# Firefox: UTF-8 HTML after a <meta http-equiv>, bare list items, the list in
# the UTF-16 context flavour, the address in UTF-16.
flavour firefox.html '<meta http-equiv="content-type" content="text/html; charset=utf-8"><li>one</li><li>two <a href="b.html">b</a></li>'
flavour firefox.txt $'one\ntwo b'
flavour16 firefox.context '<html lang="en"><body><div id="main"><ol start="3"></ol></div></body></html>'
flavour16 firefox.info '0,0'
flavour16 firefox.url 'https://example.org/a/index.html'
offer_files text/html "$work/firefox.html" text/plain "$work/firefox.txt" \
  text/_moz_htmlcontext "$work/firefox.context" text/_moz_htmlinfo "$work/firefox.info" \
  text/x-moz-url-priv "$work/firefox.url"
paste_all
"$helper" shot "$out/x-firefox.png" && echo "picture: $out/x-firefox.png"
result=$(output)
check "Firefox paste" $'  - one\n  - two [[https://example.org/a/b.html|b]]' "$result"

# A page whose text quotes tags: its HTML, not its text, is pasted.
flavour quoting.html "<meta charset='utf-8'><h3>Closing</h3><p>End it with <code>&lt;/div&gt;</code>.</p><pre>&lt;script&gt;run()&lt;/script&gt;</pre>"
flavour quoting.txt $'Closing\nEnd it with </div>.\n<script>run()</script>'
offer_files text/html "$work/quoting.html" text/plain "$work/quoting.txt"
paste_all
result=$(output)
check "page quoting tags" "==== Closing ====" "$result"
check "page quoting tags" "<script>run()</script>" "$result"

# Google Docs: everything inside <b style="font-weight:normal">.
flavour docs.html '<meta charset="utf-8"><b style="font-weight:normal;" id="docs-internal-guid-5b2c"><p dir="ltr" style="line-height:1.38;"><span style="font-size:11pt;font-weight:700;">Bold</span><span style="font-size:11pt;font-weight:400;"> plain</span></p></b><br class="Apple-interchange-newline">'
flavour docs.txt $'Bold plain\n'
offer_files text/html "$work/docs.html" text/plain "$work/docs.txt"
paste_all
result=$(output)
check "Google Docs paste" "Bold" "$result"
check_absent "Google Docs paste" '\\' "$result"

# A Windows program (Wine, a remote desktop): the clipboard header's offsets.
before='<html><body><ul>' fragment='<li>x <a href="y.html">y</a></li>' after='</ul></body></html>'
header_format='Version:0.9\r\nStartHTML:%010d\r\nEndHTML:%010d\r\nStartFragment:%010d\r\nEndFragment:%010d\r\nSourceURL:https://example.net/w/page\r\n'
header_size=$(printf "$header_format" 0 0 0 0 | wc -c)
start_fragment=$((header_size + ${#before} + 20))
end_fragment=$((start_fragment + ${#fragment}))
end_html=$((end_fragment + 18 + ${#after}))
{ printf "$header_format" "$header_size" "$end_html" "$start_fragment" "$end_fragment"
  printf '%s<!--StartFragment-->%s<!--EndFragment-->%s' "$before" "$fragment" "$after"; } >"$work/windows.html"
flavour windows.txt 'x y'
offer_files text/html "$work/windows.html" text/plain "$work/windows.txt"
paste_all
result=$(output)
check "Windows clipboard header" "  * x [[https://example.net/w/y.html|y]]" "$result"
check_absent "Windows clipboard header" "Version:" "$result"
kill "$window_pid"; wait "$window_pid" 2>/dev/null

# 5. Typing into a large document while it converts: the keys reach the editor
# as they are typed (the editor copies what was typed while conversions still
# run), and the output follows.
python3 - "$work/large.html" <<'PY'
import sys
parts = ['<h1>Large</h1>']
for i in range(30000):
    parts.append('<p>Paragraph %d with <b>bold</b>, <a href="p%d.html">a link</a> and text.</p>'
                 '<ul><li>item</li><li>item <i>two</i></li></ul>' % (i, i))
open(sys.argv[1], 'w').write('\n'.join(parts))
PY
start_window "$work/large.html"
sleep 1
xdotool key --clearmodifiers ctrl+Home
# About eight keys a second (xdotool waits half the delay after a press and
# half after its release).
xdotool type --delay 200 '<p>zqxj</p>'
typed=$(date +%s%N)
xdotool key --clearmodifiers shift+Home ctrl+c
copied=$(timeout 20 xclip -o -selection clipboard)
answered=$(date +%s%N)
"$helper" shot "$out/x-busy.png" && echo "picture: $out/x-busy.png"
echo "typed keys in the editor $(( (answered - typed) / 1000000 )) ms after the last key"
check "typing while converting" "<p>zqxj</p>" "$copied"
check "typing while converting: the output follows" "zqxj" "$(output | head -3)"

kill "$window_pid"; wait "$window_pid" 2>/dev/null

# 6. First start, and an input the converter refuses: said in the status line,
# the earlier output kept but marked, no message box.
start_window
"$helper" shot "$out/x-first.png" && echo "picture: $out/x-first.png"
xdotool type --delay 20 '<p>fine</p>'
sleep 0.5
xdotool type --delay 20 '<tr><dl></table>'
sleep 1
"$helper" shot "$out/x-refused.png" && echo "picture: $out/x-refused.png"
check "refused input keeps the earlier output" "fine" "$(output)"
windows=$(xdotool search --onlyvisible --pid "$window_pid" 2>/dev/null | wc -l)
[ "$windows" -eq 1 ] || check "no message box for a refused input" "1 window" "$windows windows"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all X checks passed"
