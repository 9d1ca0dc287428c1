#!/usr/bin/env bash
# The manual the build laid out: a real PDF of a sensible length, its table of contents
# and every chapter in it, each screenshot placed, and none reported missing.
#   check-manual.sh "PATH/Quillory Manual.pdf"
set -euo pipefail
PDF=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -s "$PDF" ] || fail "$PDF was not built"
[ "$(head -c 5 "$PDF")" = "%PDF-" ] || fail "$PDF is not a PDF"
pdfinfo "$PDF" > /dev/null || fail "pdfinfo cannot read $PDF"
pages=$(pdfinfo "$PDF" | sed -n 's/^Pages: *//p')
[ "$pages" -ge 10 ] && [ "$pages" -le 40 ] || fail "$pages pages"
pdfinfo "$PDF" | grep -q '^Title: *Quillory Manual$' || fail "no title"

# The fi and fl ligatures of the layout read back as plain letters.
plain() { sed 's/\xef\xac\x81/fi/g; s/\xef\xac\x82/fl/g'; }
text=$(pdftotext -layout "$PDF" - | plain)
chapters=("Getting started" "Opening files" "Slicing" "Tempo" "Auditioning" "Time stretch and pitch"
          "Edit mode" "Export and kits" "The command line" "Preferences" "Troubleshooting sound on Linux")
for i in "${!chapters[@]}"; do
  title="$((i + 1)). ${chapters[$i]}"
  # Listed in the contents with a page number, and that page starts with the chapter.
  page=$(grep -E "^ *$title +[0-9]+ *$" <<< "$text" | head -1 | awk '{print $NF}')
  [ -n "$page" ] || fail "\"$title\" is not in the contents"
  pdftotext -f "$page" -l "$page" "$PDF" - | plain | grep -m1 -v '^\s*$' | grep -qF "$title" ||
    fail "\"$title\" does not start page $page"
done
for topic in "Slice at Transients" "Tap tempo" "MIDI Base Note" "quillory-cli" "PipeWire" "JACK" "PulseAudio" \
             "ALSA" "Export Kit" "Save Template As"; do
  grep -qF "$topic" <<< "$text" || fail "nothing about $topic"
done
# The manual's last sections: text at the end of the document is laid out and drawn too.
for tail in "Dropouts and delay" "MIDI keyboard not listed"; do
  grep -qF "$tail" <<< "$text" || fail "the manual stops before \"$tail\""
done
if grep -q "was not available when this manual was built" <<< "$text"; then fail "a screenshot is missing"; fi
images=$(pdfimages -list "$PDF" | tail -n +3 | wc -l)
[ "$images" -ge 5 ] || fail "$images images"
echo "the manual has $pages pages, every chapter and its screenshots"
