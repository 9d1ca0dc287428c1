#!/usr/bin/env bash
# Takes the manual's screenshots (doc/manual/images) from the built program under Xvfb:
# a generated drum loop is opened, sliced at its transients, and the main window, edit
# mode and the dialogs the manual shows are captured, then reduced to small palette PNGs.
#   scripts/manual-screenshots.sh [BUILD_DIR] [OUT_DIR]
# Needs xvfb-run, xdotool, imagemagick and sox (scripts/install-deps.sh). Run it again
# after a visible change to the window and commit the images; the build does not run it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
OUT=$(mkdir -p "${2:-$ROOT/doc/manual/images}" && cd "${2:-$ROOT/doc/manual/images}" && pwd)
if [ -z "${QUILLORY_SHOTS_DISPLAY:-}" ]; then
  export QUILLORY_SHOTS_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$BUILD" "$OUT"
fi
[ -x "$BUILD/src/quillory" ] || { echo "no $BUILD/src/quillory: build the quillory target first" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'kill "${APP:-}" 2>/dev/null || true; rm -rf "$WORK"' EXIT
# Settings and sound stay in the scratch folder: ALSA's default device swallows the sound.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" QT_QPA_PLATFORM=xcb
mkdir -p "$HOME/Music"
echo 'pcm.!default { type null }' > "$HOME/.asoundrc"

# Two bars of a 120 BPM beat: kick on 1 and 3, snare on 2 and 4, closed hats on the eighths.
cd "$WORK"
sox -n -r 44100 -c 2 kick.wav synth 0.25 sine 120-45 fade 0 0.25 0.22 vol 0.9
sox -n -r 44100 -c 2 snare.wav synth 0.25 noise lowpass 5000 fade 0 0.25 0.2 vol 0.55
sox -n -r 44100 -c 2 hat.wav synth 0.25 noise highpass 7000 fade 0 0.25 0.23 vol 0.12
sox -n -r 44100 -c 2 rest.wav trim 0 0.25
sox kick.wav hat.wav snare.wav hat.wav kick.wav kick.wav snare.wav hat.wav beat.wav
sox beat.wav beat.wav "$HOME/Music/Funk Break 120.wav"

"$BUILD/src/quillory" "$HOME/Music/Funk Break 120.wav" > "$WORK/quillory.log" 2>&1 &
APP=$!
WIN=""
for _ in $(seq 1 200); do
  kill -0 "$APP" 2>/dev/null || { cat "$WORK/quillory.log" >&2; echo "quillory ended" >&2; exit 1; }
  WIN=$(xdotool search --onlyvisible --pid "$APP" --name 'Funk Break' 2>/dev/null | head -1 || true)
  [ -n "$WIN" ] && break
  sleep 0.1
done
[ -n "$WIN" ] || { echo "no main window" >&2; exit 1; }
xdotool windowmove "$WIN" 0 0 windowsize "$WIN" 1100 600
sleep 3 # the tempo detection and the transient analysis of a two-bar loop

# The window sits at the top left of the screen, so window and screen coordinates agree.
# Its tool bar buttons are about 93 pixels apart: Play, Edit, Slice, 4, 8, 16, Slice at
# Transients, Clear, Time Stretch, Drag Export, Quick Export.
toolbar() { xdotool mousemove $((49 + 93 * $1)) 60 click 1; sleep 1; }
# Without a window manager a dialog is captured from the screen at its own geometry.
shot() { # window, file name, largest width
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root "$WORK/raw.png"
  convert "$WORK/raw.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -resize "$3x>" -colors 64 -strip "PNG8:$OUT/$2"
}
# Opens a menu of the menu bar at its title's x position and picks its last entry.
last_menu_entry() { xdotool mousemove "$1" 9 click 1; sleep 0.7; xdotool key Up Return; sleep 1.5; }
dialog() {
  for _ in $(seq 1 50); do
    for d in $(xdotool search --onlyvisible --pid "$APP" --name "$1" 2>/dev/null); do
      [ "$(xdotool getwindowname "$d")" = "$1" ] && { echo "$d"; return; }
    done
    sleep 0.1
  done
  echo "no dialog $1" >&2
  exit 1
}
close() { xdotool windowfocus --sync "$1" key Escape; sleep 0.5; }

toolbar 6
shot "$WIN" main-window.png 1100

last_menu_entry 101 # Slice
D=$(dialog "Advanced Slicing")
shot "$D" advanced-slicing.png 600
close "$D"

last_menu_entry 59 # Edit
D=$(dialog "Preferences")
shot "$D" preferences.png 600
close "$D"

toolbar 8
D=$(dialog "Time Stretch and Pitch Adjust")
shot "$D" time-stretch.png 800
close "$D"

# Edit mode: a selection over the second kick, Gain from the context menu (its fifth
# entry), then a second selection further on.
toolbar 1
xdotool mousemove 260 350 mousedown 1 mousemove 330 350 mousemove 400 350 mouseup 1
sleep 0.5
xdotool mousemove 330 350 click 3; sleep 0.7
xdotool mousemove 373 458 click 1; sleep 1
xdotool mousemove 700 350 mousedown 1 mousemove 760 350 mousemove 820 350 mouseup 1
sleep 1
shot "$WIN" edit-mode.png 1100

kill "$APP"; wait "$APP" 2>/dev/null || true
ls -l "$OUT"
