#!/usr/bin/env bash
# Runs every test (GoogleTest suites of the engine and the pytest suite of the
# Python package) after the set-up, on a bare Debian 12 machine as well.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$repo/scripts/setup.sh"
cd "$repo"
exec ctest --test-dir build --output-on-failure
