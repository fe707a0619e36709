#!/usr/bin/env bash
# Builds kelto, packs the sample tree examples/site into examples/site.its
# and compiles the sample project examples/help into examples/help/kelto-help.chm.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
install_missing_packages "${BUILD_PACKAGES[@]}" 7zip

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELTO_TESTS=OFF
cmake --build build-release --target kelto
./build-release/src/kelto examples/site
7zz l examples/site.its
./build-release/src/kelto examples/help/kelto-help.hhp
