#!/usr/bin/env bash
# Set-up on a Debian 12 machine: installs the Debian packages that are
# missing, builds the native engine and the extension, and makes the virtual
# environment .venv (from /usr/bin/python3, with the system site packages) in
# which `import tessarin` works from any directory. Safe to run again.
# With --packages-only it stops once the packages are installed.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

packages=(
  build-essential cmake ca-certificates
  librdkit-dev libcoordgen-dev python3-rdkit rdkit-data
  python3-dev python3-venv pybind11-dev libboost-python-dev
  liblapack-dev libcurl4-openssl-dev nlohmann-json3-dev libgtest-dev libcli11-dev zlib1g-dev
  clang-format black python3-flake8
  python3-numpy python3-networkx python3-matplotlib python3-pytest python3-tqdm python3-pandas
  python3-dask python3-distributed
)

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
if ((${#missing[@]})); then
  echo "[setup] installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

if [[ ${1:-} == --packages-only ]]; then exit 0; fi

# Virtual environment from Debian's interpreter (the one python3-rdkit belongs to).
if [[ ! -x .venv/bin/python ]]; then
  echo "[setup] creating .venv"
  /usr/bin/python3 -m venv --system-site-packages --without-pip .venv
fi
site="$(.venv/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')"
ln -sfn "$repo/tessarin" "$site/tessarin"
# The environment's `dask` (`.venv/bin/dask worker ADDRESS` on a cluster's machines): Debian's
# /usr/bin/dask runs /usr/bin/python3, which does not see this environment's tessarin.
printf '#!/bin/sh\nexec "%s" -m dask "$@"\n' "$repo/.venv/bin/python" > .venv/bin/dask
chmod +x .venv/bin/dask

echo "[setup] building"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTESSARIN_TEST_PYTHON="$repo/.venv/bin/python" \
  -DTESSARIN_WERROR="${TESSARIN_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"

# The command-line program, native only, next to the venv's interpreter.
ln -sfn "$repo/build/tessarin" .venv/bin/tessarin
"$repo/.venv/bin/tessarin" --help >/dev/null || { echo "[setup] the tessarin command does not run" >&2; exit 1; }

(cd / && "$repo/.venv/bin/python" -c "import tessarin") || { echo "[setup] tessarin does not import" >&2; exit 1; }
echo "[setup] ready: $repo/.venv/bin/python -c 'import tessarin'"
