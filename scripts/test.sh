#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the plain build,
# the sanitizer build, the library's thread tests under ThreadSanitizer and a
# short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
install_missing_packages "${BUILD_PACKAGES[@]}" libgtest-dev libmspack-dev libchm-dev libchm-bin 7zip \
    clang-14 libclang-rt-14-dev libwim-dev zlib1g-dev valgrind dpkg-dev groff-base lintian \
    python3-chm python3-sphinx python3-sphinxcontrib.htmlhelp python3-lazr.restfulclient doxygen

jobs=$(nproc)

echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELTO_BENCH=ON
cmake --build build
(cd build && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer, LeakSanitizer)"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELTO_SANITIZE=ON
cmake --build build-sanitize
(cd build-sanitize && ctest --output-on-failure -j "$jobs")

echo "== thread sanitizer (the LZX library's worker threads)"
tsan=-fsanitize=thread
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELTO_BENCH=OFF -DCMAKE_CXX_FLAGS="$tsan" \
    -DCMAKE_EXE_LINKER_FLAGS="$tsan" -DCMAKE_SHARED_LINKER_FLAGS="$tsan"
cmake --build build-tsan --target test_lzx
# Without address randomisation: some kernels place mappings where the
# sanitizer's fixed layout does not expect them.
TSAN_OPTIONS=halt_on_error=1 setarch "$(uname -m)" -R build-tsan/lib/lzx/tests/test_lzx --gtest_filter='threads.*'

if [ -f lib/lzx/fuzz/CMakeLists.txt ]; then
    echo "== fuzzing (bounded)"
    CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKELTO_TESTS=OFF -DKELTO_FUZZ=ON
    cmake --build build-fuzz
    scripts/fuzz.sh build-fuzz "${FUZZ_SECONDS:-60}"
fi
