#!/usr/bin/env bash
# Builds the provider tests with ThreadSanitizer in build/tsan and runs them; fails on any report.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALLYVANE_WERROR=ON -DTALLYVANE_BUILD_TESTS=ON \
    "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer -O1" \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/tsan -j "${JOBS:-2}" --target tests_providers
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/providers/tests_providers "$@"
