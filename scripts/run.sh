#!/usr/bin/env bash
# The main job: set up, then run the substituted-halogen test (python -m tessarin),
# which prints its table and saves its figure to /tmp/vif_halogen.png.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
png=/tmp/vif_halogen.png
bash "$repo/scripts/setup.sh" >/dev/null
rm -f "$png"
cd "$repo"
"$repo/.venv/bin/python" -m tessarin
if [[ -s "$png" ]]; then
  echo "[run] figure: $png"
else
  echo "[run] no figure was written to $png" >&2
  exit 1
fi
