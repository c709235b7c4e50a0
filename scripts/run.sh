#!/usr/bin/env bash
# The main job: set up, then run the default analysis.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$repo/scripts/setup.sh" >/dev/null
exec "$repo/.venv/bin/python" "$repo/scripts/quick_analysis.py"
