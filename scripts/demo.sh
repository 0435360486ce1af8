#!/usr/bin/env bash
# Builds Vestrel and runs the demo. Usage: scripts/demo.sh [--service frs|frsv2|fcs|none]
set -euo pipefail
cd "$(dirname "$0")/.."
"./scripts/install-deps.sh"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
if [ -x build/vestrel ] && [ -f scripts/demo-run.sh ]; then
  exec ./scripts/demo-run.sh "$@"
fi
echo "Built. The demo needs build/vestrel and scripts/demo-run.sh."
