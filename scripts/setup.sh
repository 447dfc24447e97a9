#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need; quick when nothing is missing.
set -euo pipefail

packages=(qt6-base-dev qt6-declarative-dev libqt6sql6-sqlite qml6-module-qtquick
  qml6-module-qtquick-window qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtqml-workerscript libtag1-dev ffmpeg
  libchromaprint-tools pkg-config cmake ninja-build clang-format g++ dosfstools ntfs-3g)
if [ "${1:-}" = "--tests" ]; then
  packages+=(mtools fusefat)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
