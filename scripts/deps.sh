#!/usr/bin/env bash
# Installs everything both platforms need (Debian 12) and cross-builds the
# Windows libraries into a private prefix. Safe to run again: finished steps
# are skipped. The prefix defaults to ~/.cache/zel-stream/win64 and can be
# moved with ZEL_WIN_PREFIX.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git dpkg-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth x11-utils x11-xserver-utils
  libopus-dev libx264-dev libavcodec-dev libavutil-dev libswscale-dev libavformat-dev ffmpeg
  libpulse-dev pulseaudio pulseaudio-utils
  libx11-dev libxext-dev libxtst-dev libxfixes-dev libxcomposite-dev libxrandr-dev libxdamage-dev
  libcurl4-openssl-dev libcpp-httplib-dev libssl-dev libcxxopts-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  imagemagick sox
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

PREFIX="${ZEL_WIN_PREFIX:-$HOME/.cache/zel-stream/win64}"
WORK="${ZEL_WIN_WORK:-$HOME/.cache/zel-stream/win64-src}"
STAMP_VERSION=1
mkdir -p "$PREFIX" "$WORK"

# deb-src entries let apt-get source fetch the exact Debian sources we build.
ensure_deb_src() {
  if apt-get source --print-uris opus >/dev/null 2>&1; then return; fi
  echo "Enabling deb-src entries"
  $SUDO tee /etc/apt/sources.list.d/zel-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $SUDO apt-get update
}

TOOLCHAIN="$(cd "$(dirname "$0")/.." && pwd)/cmake/toolchain-mingw64.cmake"

fetch_source() { # package -> prints the unpacked folder
  local pkg=$1
  local dir
  dir=$(find "$WORK" -maxdepth 1 -type d -name "$pkg-*" | head -n 1)
  if [ -z "$dir" ]; then
    # The upstream tarball is all we build from; when the Debian part of the
    # source cannot be fetched, unpack the tarball ourselves.
    (cd "$WORK" && apt-get source "$pkg" >/dev/null 2>&1) || true
    dir=$(find "$WORK" -maxdepth 1 -type d -name "$pkg-*" | head -n 1)
    if [ -z "$dir" ]; then
      local orig
      orig=$(find "$WORK" -maxdepth 1 -type f -name "${pkg}_*.orig.tar.*" | head -n 1)
      [ -n "$orig" ] || { echo "no source for $pkg" >&2; return 1; }
      local version=${orig##*/${pkg}_}; version=${version%%.orig.tar.*}
      mkdir -p "$WORK/$pkg-$version"
      tar -xf "$orig" -C "$WORK/$pkg-$version" --strip-components=1
      dir="$WORK/$pkg-$version"
    fi
  fi
  echo "$dir"
}

build_opus() {
  [ -f "$PREFIX/.opus-$STAMP_VERSION-nofortify" ] && return
  ensure_deb_src
  local src; src=$(fetch_source opus)
  # Fortified string functions would need mingw's libssp in every program
  # that links Opus; a defined _FORTIFY_SOURCE keeps configure from adding it.
  # The release tarball's CMake files are incomplete; autotools is its real build.
  rm -rf "$WORK/build-opus" && mkdir -p "$WORK/build-opus"
  (cd "$WORK/build-opus" && "$src/configure" --host=x86_64-w64-mingw32 --prefix="$PREFIX" \
    --disable-shared --enable-static --disable-doc --disable-extra-programs \
    CC=x86_64-w64-mingw32-gcc-posix CFLAGS="-O2 -D_FORTIFY_SOURCE=0" >/dev/null && make -j"$(nproc)" >/dev/null && make install >/dev/null)
  touch "$PREFIX/.opus-$STAMP_VERSION-nofortify"
}

build_vpl() {
  [ -f "$PREFIX/.vpl-$STAMP_VERSION" ] && return
  ensure_deb_src
  local src; src=$(fetch_source onevpl)
  rm -rf "$WORK/build-vpl"
  cmake -S "$src" -B "$WORK/build-vpl" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=ON \
    -DBUILD_TOOLS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTS=OFF -DBUILD_PREVIEW=OFF \
    -DINSTALL_EXAMPLE_CODE=OFF -DBUILD_DEV=ON -DBUILD_RUNTIME=ON \
    -DCMAKE_SHARED_LINKER_FLAGS="-static -static-libgcc -static-libstdc++"
  cmake --build "$WORK/build-vpl"
  cmake --install "$WORK/build-vpl"
  touch "$PREFIX/.vpl-$STAMP_VERSION"
}

build_gtest() {
  [ -f "$PREFIX/.gtest-$STAMP_VERSION" ] && return
  rm -rf "$WORK/build-gtest"
  cmake -S /usr/src/googletest -B "$WORK/build-gtest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF \
    -Dgtest_disable_pthreads=OFF
  cmake --build "$WORK/build-gtest"
  cmake --install "$WORK/build-gtest"
  touch "$PREFIX/.gtest-$STAMP_VERSION"
}

build_gtest
build_opus
build_vpl
echo "Windows prefix ready: $PREFIX"
