#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the fuzzers need,
# and any named on the command line, only those that are missing. Works
# as root or through sudo.
set -euo pipefail

packages=(
  g++ make cmake pkg-config
  dpkg-dev file help2man lintian appstream desktop-file-utils
  libgtest-dev libgmock-dev
  qt6-base-dev
  libacl1-dev libattr1-dev
  exfat-fuse exfatprogs
  clang libclang-rt-14-dev
  fonts-dejavu-core
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
