#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR under /usr and checks what the desktop reads
# there: the menu entry, the metainfo, the MIME types and their icons, the manual pages,
# and that both installed programs start away from the build folder.
#   check-install.sh BUILD_DIR VERSION
set -euo pipefail
# The window check needs a display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$(readlink -f "$0")" "$(readlink -f "$1")" "$2"
fi
BUILD=$(cd "$1" && pwd)
VERSION=$2
ID=org.brindlemoor.Quillory
SCRATCH=$(mktemp -d)
trap 'kill "${APP:-}" 2>/dev/null || true; rm -rf "$SCRATCH"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$SCRATCH/root" cmake --install "$BUILD" --prefix /usr > "$SCRATCH/install.log"
ROOT="$SCRATCH/root/usr"
SHARE="$ROOT/share"

for f in bin/quillory bin/quillory-cli share/applications/$ID.desktop share/metainfo/$ID.metainfo.xml \
         share/mime/packages/$ID.xml share/icons/hicolor/scalable/apps/$ID.svg \
         share/man/man1/quillory.1.gz share/man/man1/quillory-cli.1.gz \
         share/doc/quillory/copyright share/doc/quillory/changelog.gz; do
  [ -s "$ROOT/$f" ] || fail "$f not installed"
done
[ -s "$ROOT/share/doc/quillory/Quillory Manual.pdf" ] || fail "the manual is not installed"
for size in 16 22 24 32 48 64 128 256; do
  png="$SHARE/icons/hicolor/${size}x${size}/apps/$ID.png"
  [ -s "$png" ] || fail "no ${size}x${size} icon"
  identify -format '%wx%h' "$png" | grep -qx "${size}x${size}" || fail "$png is not ${size}x${size}"
done

desktop-file-validate "$SHARE/applications/$ID.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$SHARE/metainfo/$ID.metainfo.xml" || fail "appstreamcli validate"
xmllint --noout "$SHARE/mime/packages/$ID.xml" || fail "MIME definitions are not well-formed"

# The MIME database built from the definitions maps the suffixes to the types, each type
# has its icon, and the menu entry claims both types.
update-mime-database "$SHARE/mime"
grep -q ':application/x-quillory-project:\*\.qlx$' "$SHARE/mime/globs2" || fail "*.qlx not mapped"
grep -q ':application/x-quillory-template:\*\.qlst$' "$SHARE/mime/globs2" || fail "*.qlst not mapped"
for type in project template; do
  grep -q "^application/x-quillory-$type:application-x-quillory-$type$" "$SHARE/mime/icons" ||
    fail "no icon named for the $type type"
  [ -s "$SHARE/icons/hicolor/scalable/mimetypes/application-x-quillory-$type.svg" ] || fail "no $type icon"
  grep -q "^MimeType=.*application/x-quillory-$type;" "$SHARE/applications/$ID.desktop" ||
    fail "the menu entry does not open the $type type"
done
grep -q "^Exec=quillory %[fF]" "$SHARE/applications/$ID.desktop" || fail "the menu entry does not pass the file"

for page in quillory quillory-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$SHARE/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$SHARE/man/man1/$page.1.gz" | grep -q "^NAME" || fail "$page.1 renders no NAME"
done

# The installed programs run from elsewhere, with settings in the scratch folder.
cd "$SCRATCH"
export HOME="$SCRATCH/home" XDG_CONFIG_HOME="$SCRATCH/home/.config"
mkdir -p "$HOME"
[ "$("$ROOT/bin/quillory-cli" --version)" = "quillory-cli $VERSION" ] || fail "quillory-cli --version"

QT_QPA_PLATFORM=xcb "$ROOT/bin/quillory" > "$SCRATCH/window.log" 2>&1 &
APP=$!
# Waits for the main window (its title and a real size), or for the program to end.
shown=""
for _ in $(seq 1 300); do
  kill -0 "$APP" 2>/dev/null || { cat "$SCRATCH/window.log" >&2; fail "quillory ended before showing its window"; }
  for win in $(xdotool search --onlyvisible --pid "$APP" --name '^Quillory$' 2>/dev/null); do
    width=$(xdotool getwindowgeometry --shell "$win" | sed -n 's/^WIDTH=//p')
    [ "${width:-0}" -ge 600 ] && shown=$win
  done
  [ -n "$shown" ] && break
  sleep 0.1
done
[ -n "$shown" ] || fail "quillory showed no main window"
kill "$APP"
wait "$APP" 2>/dev/null || true
echo "installed files and programs check out"
