#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [build-dir] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
"./scripts/install-deps.sh"

build="${1:-build}"
shift || true
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$(nproc)"
# A test that fails is run once more: a timing flake on a loaded machine should not hide the
# rest of the run; the log still shows the first failure.
# VESTREL_TEST_JOBS: tests run at once (default 2); the sanitizer runs in CI take 3, since
# their tests mostly wait on real periods.
ctest --test-dir "$build" --output-on-failure -j"${VESTREL_TEST_JOBS:-2}" --timeout 600 \
  --repeat until-pass:2
