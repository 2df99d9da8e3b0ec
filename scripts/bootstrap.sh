#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing) and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
need=()
for pkg in build-essential cmake gfortran libopenblas-dev libgtest-dev libbenchmark-dev python3-meshio \
    libgmsh-dev libcgal-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if ((${#need[@]})); then
  echo "bootstrap: installing ${need[*]}" >&2
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
BUILD_TYPE=${BUILD_TYPE:-Release}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
cmake --build build -j"$(nproc)"
