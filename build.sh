#!/usr/bin/env bash
# Sets up a Debian 12 machine for Plumora, builds it in Release and then
#   ./build.sh run    starts the program
#   ./build.sh test   runs the whole test suite
# System packages are installed with apt-get (as root, or through sudo) when
# any is missing.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6svg6 qt6-image-formats-plugins libjpeg62-turbo-dev libgif-dev libuemf-dev
  libheif-dev libjxl-dev libpng-dev libwebp-dev libtiff-dev liblcms2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libhwy-dev liblz4-dev poppler-utils libwmf-bin
  desktop-file-utils appstream groff-base clang-format lintian valgrind
  pybind11-dev python3-dev python3-numpy python3-distributed python3-cryptography python3-pil
)
BUILD_DIR=${PLUMORA_BUILD_DIR:-build}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Installing packages needs root or sudo." >&2; exit 1; }
    as_root=(sudo)
  fi
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

build() {
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build "$BUILD_DIR"
}

case "${1:-}" in
  run)
    install_packages
    build
    exec "$BUILD_DIR/plumora"
    ;;
  test)
    install_packages
    build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
    ;;
  *)
    echo "usage: ./build.sh run | test" >&2
    exit 2
    ;;
esac
