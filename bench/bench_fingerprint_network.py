"""Cost of the EI model's fingerprint network per molecule beside the EI model's own spectrum, over NCI molecules.

Run: .venv/bin/python bench/bench_fingerprint_network.py [--limit N]

Times, one molecule after the other on one thread: reading and preparing the molecule, its fingerprint and the
network's outputs (the engine's _testing hook, which also prepares the molecule), and the EI model's whole
spectrum (`predict_spectrum(model="ei")`). The machine's other load shows in the figures; compare runs made at
the same time.
"""

import argparse
import time
from pathlib import Path

import tessarin
from tessarin import _native

NCI = Path("/usr/share/RDKit/Data/NCI/first_5K.smi")


def timed(fn, items):
    start = time.perf_counter()
    for x in items:
        fn(x)
    return (time.perf_counter() - start) / len(items)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=int, default=500)
    args = parser.parse_args()
    smiles = [line.split()[0] for line in NCI.read_text().splitlines() if line.strip()][: args.limit]
    masses = {}
    for s in smiles:
        try:
            masses[s] = int(tessarin.predict_spectrum(s).metadata["mol_mass"])
        except Exception:
            pass
    usable = list(masses)
    shape = _native._testing.fingerprint_network_shape()
    print(
        f"{len(usable)} NCI molecules; network: {shape['members']} members of {shape['inputs']} environments, "
        f"{shape['hidden']} hidden units"
    )
    net = timed(lambda s: _native._testing.fingerprint_network(s, masses[s]), usable)
    fp = timed(lambda s: _native._testing.fingerprint_counts(s), usable)
    ei = timed(lambda s: tessarin.predict_spectrum(s, model="ei"), usable)
    print(f"fingerprint (with reading the molecule)  {fp * 1e3:8.3f} ms per molecule")
    print(f"fingerprint and network outputs          {net * 1e3:8.3f} ms per molecule")
    print(f"EI model spectrum (predict_spectrum)     {ei * 1e3:8.3f} ms per molecule")
    print(f"network share of an EI spectrum          {100 * net / (net + ei):8.1f} %")


if __name__ == "__main__":
    main()
