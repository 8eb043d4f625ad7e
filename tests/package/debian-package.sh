#!/usr/bin/env bash
# `cpack -G DEB` of the build: the package's control fields, its Depends
# covering every shared library the programs load (as dpkg-shlibdeps
# computed them), its file list, and that apt would install it here.
#   debian-package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
# Only a system without dpkg cannot make Debian packages at all.
command -v dpkg >/dev/null || { echo "SKIP: not a Debian system"; exit 77; }
for tool in dpkg-deb dpkg-shlibdeps readelf cpack; do
  command -v $tool >/dev/null || fail "$tool is missing (scripts/install-deps installs it)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package, got: ${debs[*]}"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "orinel-reader_${version}_$arch.deb" ] || fail "package file named $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = orinel-reader ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[[ "$(field Maintainer)" =~ ^.+\ \<.+@.+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no Description"
[ -n "$(field Section)" ] || fail "no Section"

# Every library a program needs belongs to a package in Depends.
depends=$(field Depends)
names=$(sed 's/ ([^)]*)//g; s/ *[,|] */\n/g' <<<"$depends")
dpkg-deb -x "$deb" "$work/unpacked"
# The programs' folder as the package lays it out.
bindir=$(dirname "$(find "$work/unpacked" -type f -name orinel-reader | head -n 1)")
for program in "$bindir"/*; do
  for library in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(ldconfig -p | awk -v lib="$library" '$1 == lib && !found { print $NF; found = 1 }')
    [ -n "$path" ] || fail "$library of $(basename "$program") is not on this system"
    # Packages own the name the library is installed under; the cache may list a link to it.
    owners=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null) ||
      fail "no package owns $path"
    owner=${owners%%:*}
    grep -Fxq "$owner" <<<"$names" || fail "$library ($owner) is missing from Depends: $depends"
  done
done

# The files: the programs (stripped), the menu entry, the icons, the
# thumbnailer, and nothing else (no build products, no headers, nothing
# outside /usr).
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
cat >"$work/expected" <<LIST
./usr/bin/orinel-reader
./usr/bin/orinel-render
./usr/share/applications/orinel-reader.desktop
./usr/share/icons/hicolor/128x128/apps/orinel-reader.png
./usr/share/icons/hicolor/16x16/apps/orinel-reader.png
./usr/share/icons/hicolor/256x256/apps/orinel-reader.png
./usr/share/icons/hicolor/32x32/apps/orinel-reader.png
./usr/share/icons/hicolor/48x48/apps/orinel-reader.png
./usr/share/icons/hicolor/64x64/apps/orinel-reader.png
./usr/share/icons/hicolor/scalable/apps/orinel-reader.svg
./usr/share/thumbnailers/orinel-reader.thumbnailer
LIST
diff -u "$work/expected" "$work/files" || fail "the package holds other files"
for program in "$bindir"/*; do
  sections=$(readelf -S "$program")
  if grep -q '\.debug_info' <<<"$sections"; then fail "$(basename "$program") is not stripped"; fi
done

# The packaged (stripped) programs run.
QT_QPA_PLATFORM=offscreen "$bindir/orinel-reader" --version >/dev/null 2>&1 || fail "the packaged reader does not start"
"$bindir/orinel-render" --help >/dev/null 2>&1 || fail "the packaged orinel-render does not start"

# apt would install it with what it depends on (a dry run: nothing changes).
if command -v apt-get >/dev/null; then
  apt-get -s install "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt cannot install the package"; }
  grep -q '^Inst orinel-reader ' "$work/apt.log" || { cat "$work/apt.log" >&2; fail "apt would not install it"; }
fi
echo "Debian package OK: $(basename "$deb")"
