#!/usr/bin/env bash
# Installs what is missing, builds, and shows Glowcast at work on its embedded samples.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target glowcastctl
echo "== what Glowcast reads from a bridge's lamp list"
build/release/tools/glowcastctl decode < samples/lights-reply.json
