#!/usr/bin/env bash
# Installs the build and test tools and cross-builds the third-party libraries
# into a cache outside the clone. Idempotent: a second run only checks.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools
  libz-mingw-w64-dev nasm googletest wine wine64 xvfb xauth imagemagick
  dpkg-dev libtiff-tools gifsicle ghostscript libimage-exiftool-perl ccache
  chromium chromium-driver python3-selenium
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good fonts-wine)
# (the two GStreamer plug-in sets: Wine's media splitters for the video-frame
# tests; fonts-wine: Wine's own fonts, among them the symbol font of the
# window frames' buttons, which --no-install-recommends leaves out)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# apt-get source needs deb-src entries; derive them from the machine's own
# binary entries (same URIs, suites, components and keyring).
src_list=/etc/apt/sources.list.d/velmo-deb-src.sources
need_update=0
if [ ! -f "$src_list" ]; then
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in *velmo-deb-src*) continue;; esac
    # one stanza per blank-line separated block; keep those that offer "deb"
    awk 'BEGIN{RS="";ORS="\n\n"}
         { if (match($0, /Types:[^\n]*/)) { t = substr($0, RSTART, RLENGTH)
             if (t ~ /[ \t]deb([ \t]|$)/) { sub(/Types:[^\n]*/, "Types: deb-src"); print } } }' "$f" >> "$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/velmo-deb-src.list || true
  fi
  if [ -s "$tmp" ]; then mv "$tmp" "$src_list"; else rm -f "$tmp"; touch "$src_list"; fi
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  [ ${#missing[@]} -gt 0 ] && apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

exec bash "$here/deps.sh"
