#!/usr/bin/env bash
# Builds slimreel_VERSION_ARCH.deb from the committed tree (HEAD, nothing uncommitted):
# the window and slimreel-cli, the desktop entry, icons, AppStream data and a man page
# for slimreel-cli made from its own help. Dependencies are computed, not typed: the
# libraries from the binaries (dpkg-shlibdeps), the QML modules from what the views
# import (qmlimportscanner), the GStreamer plugins from the elements the native back
# end and the players use (gst-inspect-1.0), each mapped to the Debian package that
# ships it (dpkg -S). ffmpeg is recommended: the GStreamer back end works without it.
#
# Usage: scripts/package.sh [--check] [OUTPUT_DIR]   (default: the current folder)
#   --check  then installs the package with apt, runs both programs from the search
#            path, validates the installed desktop entry and AppStream data, removes
#            the package and checks that none of its files is left (as root).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
check=0
if [ "${1:-}" = --check ]; then
  check=1
  shift
fi
out=$(realpath -m "${1:-.}")
cd "$top"

source scripts/deps.sh
SLIMREEL_PACKAGES+=(dpkg-dev gstreamer1.0-tools)
slimreel_ensure_packages

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree" "$out"
git archive HEAD | tar -x -C "$work/tree"
cmake -S "$work/tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DSLIMREEL_BUILD_TESTS=OFF -DSLIMREEL_BUILD_UI=ON >/dev/null
cmake --build "$work/build" --parallel "$(nproc)"
root="$work/root"
DESTDIR="$root" cmake --install "$work/build" >/dev/null
strip --strip-unneeded "$root/usr/bin/slimreel" "$root/usr/bin/slimreel-cli"

version=$(sed -n 's/^project(Slimreel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)

# The man page: slimreel-cli's help and each command's, as it prints them.
cli="$root/usr/bin/slimreel-cli"
man="$root/usr/share/man/man1/slimreel-cli.1"
mkdir -p "$(dirname "$man")"
roff() { sed -e 's/\\/\\e/g' -e 's/^[.'"'"']/\\\&&/'; }
{
  echo ".TH SLIMREEL-CLI 1 \"\" \"Slimreel $version\" \"User Commands\""
  echo ".SH NAME"
  echo "slimreel-cli \\- make video files smaller, from the command line"
  echo ".SH SYNOPSIS"
  echo ".nf"
  "$cli" --help | roff
  echo ".fi"
  for command in probe estimate compress; do
    echo ".SH \"$(echo "$command" | tr a-z A-Z)\""
    echo ".nf"
    "$cli" "$command" --help | roff
    echo ".fi"
  done
  echo ".SH SEE ALSO"
  echo "slimreel(1)"
} >"$man"
gzip -9n "$man"

# Debian ships its copyright notes per package.
doc="$root/usr/share/doc/slimreel"
mkdir -p "$doc"
printf 'Slimreel %s\nBuilt from its source tree by scripts/package.sh.\n' "$version" >"$doc/README"

package_of() { # a file's Debian package, or nothing; dpkg knows files by their /usr path
  { dpkg -S "$(realpath -m "$1")" 2>/dev/null || true; } | sed -n '1s/:.*//p' | sed 's/, .*//'
}

# Libraries, from the binaries.
mkdir -p "$work/pkg/debian"
printf 'Source: slimreel\n\nPackage: slimreel\nArchitecture: any\n' >"$work/pkg/debian/control"
libraries=$(cd "$work/pkg" && dpkg-shlibdeps -O "$root/usr/bin/slimreel" "$root/usr/bin/slimreel-cli" 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')

# QML modules, from what the views import.
qml_dir=$(qtpaths6 --query QT_INSTALL_QML 2>/dev/null || echo /usr/lib/"$(dpkg-architecture -qDEB_HOST_MULTIARCH)"/qt6/qml)
scanner=$(qtpaths6 --query QT_INSTALL_LIBEXECS 2>/dev/null || echo /usr/lib/qt6/libexec)/qmlimportscanner
modules=$("$scanner" -rootPath "$work/tree/src/ui/qml" -importPath "$qml_dir" |
  python3 -c 'import json, sys; print("\n".join(m["path"] for m in json.load(sys.stdin) if m.get("path")))' |
  while read -r path; do package_of "$path/qmldir"; done | sort -u)

# GStreamer plugins, from the elements the native back end builds and the players decode with.
elements=(uridecodebin videoconvert videoscale videoflip audioconvert audioresample capsfilter queue filesink
  x264enc x265enc h265parse av1enc av1parse mp4mux avenc_aac avdec_h264 avdec_h265 av1dec playbin)
plugins=$(for element in "${elements[@]}"; do
    file=$(gst-inspect-1.0 "$element" 2>/dev/null | sed -n 's/^ *Filename *//p' | head -n 1)
    if [ -n "$file" ]; then package_of "$file"; fi
  done | sort -u)

# The Wayland platform plugin: without it the window falls back to XWayland, blurry on scaled screens.
depends=$(printf '%s\n' "$libraries" | tr ',' '\n' | sed 's/^ *//' | grep -v '^$'
  printf '%s\n' $modules $plugins qt6-wayland)
depends=$(printf '%s\n' "$depends" | awk '!seen[$1]++' | paste -sd, | sed 's/,/, /g') # one entry per package

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
mkdir -p "$root/DEBIAN"
cat >"$root/DEBIAN/control" <<EOF
Package: slimreel
Version: $version
Architecture: $arch
Maintainer: Slimreel developers <slimreel@localhost>
Installed-Size: $size
Depends: $depends
Recommends: ffmpeg, fonts-noto-cjk
Section: video
Priority: optional
Description: make video files smaller on your own computer
 Drop videos into the window, compare a five-second preview of the compressed
 picture with the original, see the output size before encoding, and compress
 the whole queue into a folder. Nothing is uploaded and the source is never
 overwritten. Uses ffmpeg when it is installed, GStreamer otherwise; the
 slimreel-cli command does the same from a terminal.
EOF
deb="$out/slimreel_${version}_${arch}.deb"
dpkg-deb --build --root-owner-group "$root" "$deb" >/dev/null
echo "$deb"
[ "$check" = 1 ] || exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
if dpkg-query -W -f='${Status}' slimreel 2>/dev/null | grep -q 'install ok installed'; then
  echo "package check: slimreel is already installed here; not touching it" >&2
  exit 1
fi
files=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\.||' | grep -v '/$')
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null
failed=()
must() { "$@" >/dev/null 2>&1 || failed+=("$*"); }
must test "$(command -v slimreel)" = /usr/bin/slimreel
must test "$(command -v slimreel-cli)" = /usr/bin/slimreel-cli
must env QT_QPA_PLATFORM=offscreen slimreel --help # its options need no display
ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=160x120:rate=10:duration=1 \
  -c:v libx264 -pix_fmt yuv420p "$work/clip.mp4"
must sh -c "slimreel-cli probe --json '$work/clip.mp4' | grep -q '\"codec\":\"H.264\"'"
must sh -c 'slimreel-cli --help | grep -q "^Usage: slimreel-cli"'
must desktop-file-validate /usr/share/applications/io.slimreel.Slimreel.desktop
must appstreamcli validate --no-net /usr/share/metainfo/io.slimreel.Slimreel.metainfo.xml
must man -w slimreel-cli
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q slimreel >/dev/null
left=$(for file in $files; do if [ -e "$file" ]; then echo "$file"; fi; done)
if [ ${#failed[@]} -ne 0 ] || [ -n "$left" ]; then
  printf 'package check failed: %s\n' "${failed[@]}" >&2
  echo "left behind: ${left:-nothing}" >&2
  exit 1
fi
echo "package check: installed, both programs ran from the search path, the desktop entry and AppStream data"
echo "validate, and removing it left none of its files"
