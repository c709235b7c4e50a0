#!/usr/bin/env bash
# Checks the tree's style without changing a file: the C++ sources against .clang-format, the
# Python sources against pyproject.toml (ruff's format and lint rules; where ruff is not
# installed, black and flake8 check the same style and rules). Lists what differs and exits 1.
# scripts/check_style.sh --fix rewrites the files instead.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
fix=0
[[ ${1:-} == --fix ]] && fix=1

mapfile -t cxx < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src bindings cli tests bench -name '*.cpp' -o -name '*.h')
mapfile -t py < <(git ls-files '*.py' 2>/dev/null || find tessarin tests bench scripts -name '*.py')
status=0

clang_format=$(command -v clang-format || command -v clang-format-14 || true)
if [[ -z $clang_format ]]; then
  echo "[style] clang-format is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
if ((fix)); then
  "$clang_format" -i "${cxx[@]}"
elif ! "$clang_format" --dry-run --Werror "${cxx[@]}"; then
  echo "[style] C++ sources differ from .clang-format (scripts/check_style.sh --fix)" >&2
  status=1
fi

if command -v ruff >/dev/null; then
  if ((fix)); then
    ruff format -q "${py[@]}" && ruff check -q --fix "${py[@]}"
  else
    ruff format --check -q "${py[@]}" || { echo "[style] Python sources differ from ruff's format" >&2; status=1; }
    ruff check -q "${py[@]}" || status=1
  fi
else
  if ((fix)); then
    black -q "${py[@]}"
  else
    black --check -q "${py[@]}" || { echo "[style] Python sources differ from the format (scripts/check_style.sh --fix)" >&2; status=1; }
    /usr/bin/python3 -m flake8 "${py[@]}" || status=1
  fi
fi
exit "$status"
