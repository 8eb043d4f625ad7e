#!/usr/bin/env bash
# `cmake --install BUILD --prefix P` into a temporary prefix: the programs,
# the menu entry (valid for desktop-file-validate), the icons and the
# thumbnailer entry, whose Exec line, run as a file manager runs it, writes a
# thumbnail of each book type it names.
#   install-tree.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
corpus=$2/../shared/corpus

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v desktop-file-validate >/dev/null ||
  fail "desktop-file-validate is missing (scripts/install-deps installs desktop-file-utils)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/orinel-reader bin/orinel-render \
    share/applications/orinel-reader.desktop \
    share/icons/hicolor/scalable/apps/orinel-reader.svg \
    share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/orinel-reader.png \
    share/thumbnailers/orinel-reader.thumbnailer; do
  [ -s "$prefix/$file" ] || fail "not installed: $file"
done
[ -x "$prefix/bin/orinel-reader" ] && [ -x "$prefix/bin/orinel-render" ] || fail "programs not executable"

desktop=$prefix/share/applications/orinel-reader.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
[ "$(sed -n 's/^Icon=//p' "$desktop")" = orinel-reader ] || fail "the menu entry names another icon"

# The installed reader starts.
QT_QPA_PLATFORM=offscreen "$prefix/bin/orinel-reader" --version >/dev/null || fail "the installed reader does not start"

thumbnailer=$prefix/share/thumbnailers/orinel-reader.thumbnailer
[ "$(head -n1 "$thumbnailer")" = "[Thumbnailer Entry]" ] || fail "no [Thumbnailer Entry] group"
mimes=$(sed -n 's/^MimeType=//p' "$thumbnailer")
[ "$mimes" = "application/epub+zip;application/x-fictionbook+xml;application/x-zip-compressed-fb2;" ] ||
  fail "unexpected MimeType: $mimes"
# The types are shared-mime-info's own, where it is installed.
mimedb=/usr/share/mime/packages/freedesktop.org.xml
if [ -f "$mimedb" ]; then
  IFS=';' read -r -a types <<<"$mimes"
  for type in "${types[@]}"; do
    grep -q "<mime-type type=\"$type\"" "$mimedb" || fail "shared-mime-info does not know $type"
  done
fi

# TryExec and Exec find the installed program through PATH, as a file manager does.
export PATH="$prefix/bin:$PATH"
tryexec=$(sed -n 's/^TryExec=//p' "$thumbnailer")
[ "$(command -v "$tryexec")" = "$prefix/bin/$tryexec" ] || fail "TryExec=$tryexec is not the installed program"
read -r -a words <<<"$(sed -n 's/^Exec=//p' "$thumbnailer")"

# Width and height from a PNG's header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }

cp "$corpus/fb2-fbe-script-description-cp1251.fb2" "$work/book.fb2"
(cd "$work" && cmake -E tar cf book.fb2.zip --format=zip book.fb2)
for book in "$corpus/epub2-pg11-alice.epub" "$work/book.fb2" "$work/book.fb2.zip" "$work/no such book.epub"; do
  out="$work/thumb file.png"
  rm -f "$out"
  command=()
  for word in "${words[@]}"; do
    case $word in
      %s) command+=(128) ;;
      %i) command+=("$book") ;;
      %o) command+=("$out") ;;
      *) command+=("$word") ;;
    esac
  done
  status=0
  QT_QPA_PLATFORM= "${command[@]}" 2>"$work/errors" || status=$?
  if [ "$book" = "$work/no such book.epub" ]; then
    [ $status -ne 0 ] && [ ! -e "$out" ] || fail "a missing book gave status $status"
    continue
  fi
  [ $status -eq 0 ] || { cat "$work/errors" >&2; fail "Exec line failed ($status) for $book"; }
  [ "$(head -c8 "$out" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "no PNG for $book"
  read -r width height < <(png_size "$out")
  [ "$width" -le 128 ] && [ "$height" -le 128 ] && [ "$width" -gt 0 ] && [ "$height" -gt 0 ] ||
    fail "${width}x$height is not within 128 for $book"
done
echo "install tree OK"
