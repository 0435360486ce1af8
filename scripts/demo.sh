#!/usr/bin/env bash
# Builds Vestrel and runs what exists of the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
"./scripts/install-deps.sh"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
if [ -x build/vestrel ] && [ -f scripts/demo-run.sh ]; then
  exec ./scripts/demo-run.sh
fi
echo "Built. The demo needs build/vestrel and scripts/demo-run.sh."
