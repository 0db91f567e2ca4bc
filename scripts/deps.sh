#!/usr/bin/env bash
# Cross-builds the third-party libraries from Debian's source packages with
# the project's MinGW-w64 toolchain into a cache outside the clone:
#   $VELMO_CACHE/deps-<key>/{include,lib}
# The key is made of the source versions and this recipe, so a changed recipe
# or a new package version rebuilds, and an unchanged one is reused.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
cache=${VELMO_CACHE:-/var/cache/velmo}
mkdir -p "$cache/src"
toolchain="$top/cmake/mingw-w64-x86_64.cmake"
jobs=$(nproc)

packages=(libjpeg-turbo libpng1.6 openjpeg2 libraw)

# The newest version of a source package whose files can be fetched; mirrors
# sometimes list a version whose files are not there yet.
fetch_source() {
  local pkg=$1 v
  for v in $(apt-cache showsrc "$pkg" | awk '/^Version:/{print $2}' | sort -rV | uniq); do
    if [ -f "$cache/src/$pkg-$v.ok" ]; then echo "$v"; return 0; fi
    if (cd "$cache/src" && apt-get source -q --download-only "$pkg=$v" >/dev/null 2>&1); then
      touch "$cache/src/$pkg-$v.ok"; echo "$v"; return 0
    fi
  done
  echo "cannot fetch the source of $pkg" >&2; return 1
}

key_text="$(sha256sum "$0" "$toolchain" | awk '{print $1}')"
declare -A version
for p in "${packages[@]}"; do
  version[$p]=$(fetch_source "$p")
  key_text+=" $p=${version[$p]}"
done
key=$(printf '%s' "$key_text" | sha256sum | cut -c1-16)
prefix="$cache/deps-$key"
if [ -f "$prefix/.complete" ]; then
  ln -sfn "$prefix" "$cache/deps-current"
  echo "dependencies: cached in $prefix"
  exit 0
fi

echo "dependencies: building into $prefix"
rm -rf "$prefix" "$cache/work-$key"
work="$cache/work-$key"
mkdir -p "$work" "$prefix"

extract() {   # extract PKG -> prints the source folder
  local pkg=$1 v=${version[$1]} dsc
  dsc=$(ls "$cache/src/${pkg}_${v#*:}.dsc")
  (cd "$work" && dpkg-source --no-check -x "$dsc" "$pkg" >/dev/null 2>&1)
  echo "$work/$pkg"
}

cmake_lib() {  # cmake_lib SRC [options...]
  local src=$1; shift
  cmake -S "$src" -B "$src/_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=OFF "$@" >"$src/_configure.log" 2>&1 \
    || { cat "$src/_configure.log"; return 1; }
  cmake --build "$src/_build" -j "$jobs" >"$src/_build.log" 2>&1 || { tail -50 "$src/_build.log"; return 1; }
  cmake --install "$src/_build" >/dev/null
}

zlib_inc=/usr/x86_64-w64-mingw32/include
zlib_lib=/usr/x86_64-w64-mingw32/lib/libz.a

build_jpeg() {
  cmake_lib "$(extract libjpeg-turbo)" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DWITH_JPEG8=OFF -DWITH_JPEG7=OFF
}
build_png() {
  cmake_lib "$(extract libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_INCLUDE_DIR="$zlib_inc" -DZLIB_LIBRARY="$zlib_lib"
}
build_openjpeg() {
  cmake_lib "$(extract openjpeg2)" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
    -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF -DBUILD_DOC=OFF
}
build_libraw() {
  # LibRaw's own Makefile.mingw hard-codes the host's ar; compile its object
  # list from a small CMake list instead.
  local src objs files=""
  src=$(extract libraw)
  objs=$(sed -n '/^LIB_OBJECTS=/,/^$/p' "$src/Makefile.mingw" | tr ' \\' '\n\n' \
         | sed -n 's#^object/\(.*\)\.o$#\1#p')
  for o in $objs; do
    f=$(cd "$src" && find src -name "$o.cpp" | head -n 1)
    [ -n "$f" ] || { echo "libraw: no source for $o" >&2; return 1; }
    files+=" $f"
  done
  cat > "$src/CMakeLists.txt" <<CML
cmake_minimum_required(VERSION 3.16)
project(libraw CXX)
add_library(raw STATIC $files)
target_include_directories(raw PRIVATE \${CMAKE_SOURCE_DIR})
target_compile_definitions(raw PRIVATE LIBRAW_NODLL LIBRAW_NOTHREADS NO_JASPER NO_LCMS)
target_compile_options(raw PRIVATE -w -O2)
install(TARGETS raw ARCHIVE DESTINATION lib)
install(DIRECTORY libraw DESTINATION include)
CML
  cmake_lib "$src"
}

pids=()
build_jpeg & pids+=($!)
build_png & pids+=($!)
build_openjpeg & pids+=($!)
build_libraw & pids+=($!)
fail=0
for p in "${pids[@]}"; do wait "$p" || fail=1; done
[ $fail = 0 ] || { echo "dependencies: build failed" >&2; exit 1; }

printf '%s\n' "$key_text" > "$prefix/.recipe"
touch "$prefix/.complete"
ln -sfn "$prefix" "$cache/deps-current"
rm -rf "$work"
# Builds of older recipes are never used again.
for old in "$cache"/deps-*; do
  [ "$old" = "$prefix" ] || [ "$old" = "$cache/deps-current" ] || rm -rf "$old"
done
echo "dependencies: built into $prefix"
