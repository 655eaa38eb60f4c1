#!/bin/sh
# Installs, from Debian's packages, everything the builds and tests need.
set -eu
PACKAGES="
  cmake ninja-build g++ pkg-config python3
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix wine64
  libgmime-3.0-dev libical-dev khard khal
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $PACKAGES >/dev/null
