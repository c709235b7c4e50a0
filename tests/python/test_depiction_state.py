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


def records_by_name(path, count):
    records = {}
    for line in path.read_text().splitlines():
        record = json.loads(line)
        del record["line"]  # the only field that names the molecule's place in the input
        records[record["name"]] = record
    assert len(records) == count
    return records


def predict(cli, path, molecules, jobs):
    path.write_text("".join(f"{smiles}\t{name}\n" for smiles, name in molecules))
    out = path.with_suffix(".jsonl")
    done = subprocess.run([cli, "predict", str(path), "-o", str(out), "--format", "jsonl", "--jobs", str(jobs)],
                          capture_output=True, timeout=300)
    assert done.returncode == 0, done.stderr.decode()
    return records_by_name(out, len(molecules))


@pytest.fixture(scope="module")
def alone(cli, tmp_path_factory):
    """Each molecule's record from a run of the command on it alone."""
    folder = tmp_path_factory.mktemp("alone")
    records = {}
    for i, molecule in enumerate(MIXED):
        records.update(predict(cli, folder / f"{i}.smi", [molecule], jobs=1))
    return records


def test_every_record_of_the_command_equals_the_molecule_predicted_alone(cli, alone, tmp_path):
    for jobs in (1, 2):
        for order, molecules in (("forwards", MIXED), ("backwards", MIXED[::-1])):
            records = predict(cli, tmp_path / f"{order}{jobs}.smi", molecules, jobs)
            for name, record in records.items():
                assert record == alone[name], f"{name}, {order}, --jobs {jobs}"


def test_library_threads_in_this_process_give_the_records_of_the_command_alone(alone, tmp_path):
    # Native threads of the extension, after depictions this process has already made.
    compute_atom_layout(Chem.AddHs(Chem.MolFromSmiles(MIXED[0][0])))
    for jobs in (2, 4):
        for order, molecules in (("forwards", MIXED), ("backwards", MIXED[::-1])):
            out = tmp_path / f"{order}{jobs}.jsonl"
            predict_library([(name, smiles) for smiles, name in molecules], output=out, fmt="jsonl", jobs=jobs)
            for name, record in records_by_name(out, len(molecules)).items():
                assert record == alone[name], f"{name}, {order}, jobs={jobs}"
