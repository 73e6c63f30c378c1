#!/usr/bin/env bash
# Builds the library and runs the demo host; arguments go to the demo
# (--window: the scene live in a real window, see vek_demo --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release -DVEK_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release --target vek_demo -j"$(nproc)"
cd build/release/bin && ./vek_demo "$@"
