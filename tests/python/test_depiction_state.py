"""A molecule's result does not depend on its neighbours in the input, the number of jobs or
other threads: every record equals the molecule's record when it is predicted alone."""

import json
import os
import subprocess
from pathlib import Path

import pytest
from rdkit import Chem

from tessarin import compute_atom_layout, predict_library

ROOT = Path(__file__).resolve().parents[2]

# Metal complexes and fused polycycles whose depiction once depended on what was depicted
# before them, bridged ring systems, a macrocycle and ordinary molecules.
MIXED = [
    ("C12C3=C4C5=C1[Fe]23456789C%10C6=C7C8=C9%10", "ferrocene"),
    ("CC1=[O+][Al]23([O+]=C(C)C1)([O+]=C(C)CC(=[O+]2)C)[O+]=C(C)CC(=[O+]3)C", "aluminium_complex"),
    ("C1CN[Co]23(N1)(NCCN2)NCCN3", "cobalt_complex"),
    ("O=C1O[Fe]23(OC1=O)(OC(=O)C(=O)O2)OC(=O)C(=O)O3", "iron_oxalate"),
    ("C[CH]1CC[C]2(CC[C]3(C)C(=CC[CH]4[C]5(C)CC[CH](O)C(C)(C)[CH]5CC[C]34C)[CH]2[CH]1C)C(O)=O", "pentacycle"),
    ("C1C2CC3CC1CC(C2)C3", "adamantane"),
    ("O=C1CCCCCCCCCCCCCCCCCCCCC(=O)NCCN1", "macrocycle"),
    ("CC(=O)Oc1ccccc1C(=O)O", "aspirin"),
    ("CCO", "ethanol"),
]


@pytest.fixture(scope="module")
def cli():
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


def records(path):
    """Records by molecule name, less the line number: the only field that names the place in the input."""
    by_name = {}
    for record in map(json.loads, path.read_text().splitlines()):
        del record["line"]
        by_name[record["name"]] = record
    return by_name


def predict(cli, path, molecules, jobs):
    path.write_text("".join(f"{smiles}\t{name}\n" for smiles, name in molecules))
    done = subprocess.run(
        [cli, "predict", path, "-o", path.with_suffix(".jsonl"), "--format", "jsonl", "--jobs", str(jobs)],
        capture_output=True,
        timeout=300,
    )
    assert done.returncode == 0, done.stderr.decode()
    return records(path.with_suffix(".jsonl"))


@pytest.fixture(scope="module")
def alone(cli, tmp_path_factory):
    folder = tmp_path_factory.mktemp("alone")
    return {k: v for i, m in enumerate(MIXED) for k, v in predict(cli, folder / f"{i}.smi", [m], jobs=1).items()}


@pytest.mark.parametrize("jobs", [1, 2])
@pytest.mark.parametrize("order", [1, -1], ids=["forwards", "backwards"])
def test_every_record_of_the_command_equals_the_molecule_predicted_alone(cli, alone, tmp_path, jobs, order):
    assert predict(cli, tmp_path / "mixed.smi", MIXED[::order], jobs) == alone


@pytest.mark.parametrize("order", [1, -1], ids=["forwards", "backwards"])
def test_native_threads_of_this_process_give_the_records_of_the_command_alone(alone, tmp_path, order):
    compute_atom_layout(Chem.AddHs(Chem.MolFromSmiles(MIXED[1][0])))  # a depiction made here before
    predict_library(
        [(name, smiles) for smiles, name in MIXED[::order]], output=tmp_path / "lib.jsonl", fmt="jsonl", jobs=4
    )
    assert records(tmp_path / "lib.jsonl") == alone
