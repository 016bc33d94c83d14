#!/usr/bin/env bash
# Builds the dev preset and runs the whole test suite; exits with its result.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

scripts/deps.sh
cmake --preset dev
cmake --build --preset dev
exec ctest --preset dev
