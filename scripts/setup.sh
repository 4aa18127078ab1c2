# Shared by scripts/test and scripts/demo: installs what is missing and builds.
# shellcheck shell=bash

ORVANT_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
                 clang libclang-rt-14-dev qt6-base-dev libeigen3-dev libpugixml-dev)

install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >/dev/null
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_main() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build
}
