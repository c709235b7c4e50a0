"""PubChem lookups against the local stand-in server: requests, replies, failures."""

import json
import math
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import tessarin
from support.pubchem import COMPOUNDS, NOT_FOUND, LocalPubChem, property_table, pubchem_server  # noqa: F401

fetch = tessarin.fetch_smiles_from_pubchem
PATH = "/rest/pug/compound/{}/{}/property/SMILES/JSON"


@pytest.mark.parametrize(
    "query, by, segment",
    [
        ("glycine", "name", "glycine"),
        ("lactic acid", "name", "lactic%20acid"),
        ("a/b?c#d", "name", "a%2Fb%3Fc%23d"),
        ("β-alanine", "name", "%CE%B2-alanine"),
        ("..", "name", "%2E%2E"),
        (962, "cid", "962"),
        (np.int64(750), "cid", "750"),
    ],
)
def test_query_is_one_path_segment(pubchem_server, query, by, segment):
    try:
        fetch(query, by=by)
    except ValueError as e:  # unknown compound: the message shows the query as given
        assert str(e) == f"PubChem '{query}' için sonuç döndürmedi (HTTP 404)"
    assert pubchem_server.paths == [PATH.format(by, segment)]


def test_known_compounds_by_name_and_cid(pubchem_server):
    for name, cid, smiles in COMPOUNDS:
        for query, by in ((name, "name"), (cid, "cid"), (str(cid), "cid")):
            found = fetch(query, by=by)
            assert found == (smiles, cid) and type(found) is tuple and type(found[1]) is int


@pytest.mark.parametrize("by", ["CID", "Name", "", "name ", None, b"name", 1])
def test_lookup_kind_is_checked_before_anything_is_sent(pubchem_server, by):
    with pytest.raises(ValueError) as err:
        fetch(None, by=by, timeout=None)  # bad query and time-out too: the kind is checked first
    assert str(err.value) == "by parametresi 'name' veya 'cid' olmalı"
    assert pubchem_server.paths == []


@pytest.mark.parametrize(
    "records, expected",
    [
        ([{"CID": 1, "SMILES": "", "IsomericSMILES": "C[C@H](N)O"}], ("C[C@H](N)O", 1)),
        ([{"CID": 2, "ConnectivitySMILES": "CCO"}], ("CCO", 2)),
        ([{"SMILES": None, "IsomericSMILES": 5, "ConnectivitySMILES": "C"}], ("C", None)),
        ([{"IsomericSMILES": "N[C@@H](C)C(=O)O", "SMILES": "NC(C)C(=O)O", "CID": 5950}], ("NC(C)C(=O)O", 5950)),
        ([{"CID": None, "SMILES": "O"}], ("O", None)),
        ([{"CID": 3, "SMILES": "CC"}, {"CID": 4, "SMILES": "CCC"}], ("CC", 3)),
        ([{"CID": 2**62, "SMILES": "C"}], ("C", 2**62)),
    ],
)
def test_smiles_fallbacks_and_cid(pubchem_server, records, expected):
    pubchem_server.add("name", "x", property_table(*records))
    assert fetch("x") == expected


@pytest.mark.parametrize(
    "status, body, message",
    [
        (404, NOT_FOUND, "PubChem 'x' için sonuç döndürmedi (HTTP 404)"),
        (503, "<html>Service Unavailable</html>", "PubChem 'x' için sonuç döndürmedi (HTTP 503)"),
        (201, property_table({"SMILES": "O"}), "PubChem 'x' için sonuç döndürmedi (HTTP 201)"),
        (200, {}, "PubChem 'x' için boş yanıt döndü"),
        (200, {"PropertyTable": {}}, "PubChem 'x' için boş yanıt döndü"),
        (200, property_table(), "PubChem 'x' için boş yanıt döndü"),
    ],
)
def test_status_and_empty_table_errors(pubchem_server, status, body, message):
    pubchem_server.add("name", "x", body, status=status)
    with pytest.raises(ValueError) as err:
        fetch("x")
    assert str(err.value) == message and type(err.value) is ValueError


@pytest.mark.parametrize(
    "body",
    [
        '{"CID": 7, "Title": "it\'s \\"quoted\\"", "SMILES": ""}',
        '{"Title": "tab\\there, \\u200b, \\u00e9, \\ud83d\\ude00, back\\\\slash", "IUPACName": "it\'s"}',
        '{"n": [1, 2.50, -0.0, 1e-7, 1E20, 12345678901234567, true, false, null], "o": {"b": {"c": []}, "a": {}}}',
        '{"z": 1, "a": 2, "z": 3}',
    ],
)
def test_missing_smiles_shows_the_record_as_python_writes_it(pubchem_server, body):
    pubchem_server.add("name", "x", f'{{"PropertyTable": {{"Properties": [{body}, {{"SMILES": "O"}}]}}}}')
    with pytest.raises(ValueError) as err:
        fetch("x")
    assert str(err.value) == "PubChem yanıtında SMILES bulunamadı: " + str(json.loads(body))


@pytest.mark.parametrize(
    "body, pos",
    [
        ("<html><body>Error</body></html>", 0),
        ("", 0),
        ('{"a": 1,}', 8),
        ('["é", x]', 6),
        ('{"PropertyTable": {}} x', 22),
        (b'{"a": "\xff"}', 7),
    ],
)
def test_body_that_is_not_json_raises_json_decode_error(pubchem_server, body, pos):
    pubchem_server.add("name", "x", body)
    with pytest.raises(json.JSONDecodeError) as err:
        fetch("x")
    text = body.decode("utf-8", "replace") if isinstance(body, bytes) else body
    assert isinstance(err.value, ValueError)
    assert err.value.doc == text and err.value.pos == pos


@pytest.mark.parametrize(
    "body",
    [
        "null",
        '{"PropertyTable": []}',
        '{"PropertyTable": {"Properties": {"SMILES": "O"}}}',
        '{"PropertyTable": {"Properties": ["O"]}}',
        '{"PropertyTable": {"Properties": [{"CID": "962", "SMILES": "O"}]}}',
    ],
)
def test_reply_of_the_wrong_shape_is_a_value_error(pubchem_server, body):
    pubchem_server.add("name", "x", body)
    with pytest.raises(ValueError, match="^unexpected PubChem reply for 'x': "):
        fetch("x")


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"query": True, "by": "cid"}, TypeError),
        ({"query": 962.0, "by": "cid"}, TypeError),
        ({"query": b"water"}, TypeError),
        ({"query": "\ud800"}, UnicodeEncodeError),
        ({"timeout": 0}, ValueError),
        ({"timeout": math.nan}, ValueError),
        ({"timeout": math.inf}, ValueError),
        ({"timeout": None}, TypeError),
        ({"timeout": "20"}, TypeError),
    ],
)
def test_bad_arguments_are_rejected_before_sending(pubchem_server, kwargs, error):
    with pytest.raises(error):
        fetch(**{"query": "water", **kwargs})
    assert pubchem_server.paths == []


def test_base_url_is_read_at_each_call(pubchem_server, monkeypatch):
    other = LocalPubChem()
    try:
        assert fetch("water") == ("O", 962)
        monkeypatch.setattr(tessarin, "PUBCHEM_REST", other.base)
        assert fetch("urea", timeout=2.5) == ("C(=O)(N)N", 1176)
        assert len(pubchem_server.paths) == 1 and len(other.paths) == 1
    finally:
        other.close()
    for base, error in [
        ("file:///etc", ValueError),
        ("ftp://127.0.0.1/rest", ValueError),
        (None, TypeError),
        (pubchem_server.base + "\0/elsewhere", ValueError),
    ]:
        monkeypatch.setattr(tessarin, "PUBCHEM_REST", base)
        with pytest.raises(error):
            fetch("passwd")
    assert len(pubchem_server.paths) == 1


def test_transport_failures(pubchem_server, monkeypatch):
    with socket.socket() as s:  # a port nobody listens on
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    monkeypatch.setattr(tessarin, "PUBCHEM_REST", f"http://127.0.0.1:{port}/rest/pug/compound")
    with pytest.raises(ConnectionError, match=str(port)):
        fetch("water")
    monkeypatch.setattr(tessarin, "PUBCHEM_REST", pubchem_server.base)

    pubchem_server.add("name", "slow", property_table({"SMILES": "O"}), delay=30)
    start = time.monotonic()
    with pytest.raises(TimeoutError, match="timed out"):
        fetch("slow", timeout=0.3)
    assert time.monotonic() - start < 5

    pubchem_server.add("name", "huge", b" " * (17 << 20) + b"{}")
    with pytest.raises(ConnectionError, match="larger than 16 MiB"):
        fetch("huge")


def test_redirects(pubchem_server):
    pubchem_server.add("name", "moved", "", status=301, headers={"Location": pubchem_server.url("cid", 962)})
    assert fetch("moved") == ("O", 962)
    assert pubchem_server.paths[-1] == PATH.format("cid", "962")
    pubchem_server.add("name", "to-file", "", status=302, headers={"Location": "file:///etc/passwd"})
    with pytest.raises(ValueError):
        fetch("to-file")
    pubchem_server.add("name", "loop", "", status=302, headers={"Location": pubchem_server.url("name", "loop")})
    with pytest.raises(ConnectionError):
        fetch("loop")


def test_lookup_lets_other_threads_run(pubchem_server):
    pubchem_server.add("name", "slow", property_table({"CID": 1, "SMILES": "C"}), delay=1.5)
    result = []
    worker = threading.Thread(target=lambda: result.append(fetch("slow")))
    worker.start()
    while not pubchem_server.paths:
        time.sleep(0.01)
    start = time.monotonic()
    time.sleep(0.05)  # needs the GIL back to return
    assert time.monotonic() - start < 0.5 and worker.is_alive()
    worker.join(timeout=10)
    assert result == [("C", 1)]


def test_ctrl_c_stops_a_lookup(pubchem_server):
    pubchem_server.add("name", "slow", property_table({"SMILES": "C"}), delay=60)
    child_code = (
        "import signal, sys, tessarin\n"
        "signal.signal(signal.SIGINT, signal.default_int_handler)\n"  # even when started with SIGINT ignored
        "tessarin.PUBCHEM_REST = sys.argv[1]\n"
        "try:\n"
        "    tessarin.fetch_smiles_from_pubchem('slow', timeout=60)\n"
        "except KeyboardInterrupt:\n"
        "    sys.exit(3)\n"
    )
    package_root = os.path.dirname(os.path.dirname(tessarin.__file__))
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([package_root, os.environ.get("PYTHONPATH", "")])}
    child = subprocess.Popen([sys.executable, "-c", child_code, pubchem_server.base], env=env)
    try:
        deadline = time.monotonic() + 60
        while not pubchem_server.paths and time.monotonic() < deadline and child.poll() is None:
            time.sleep(0.05)
        assert pubchem_server.paths, "the child never sent its request"
        child.send_signal(signal.SIGINT)
        assert child.wait(timeout=10) == 3
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()


class RecordingVIF:
    def __init__(self):
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return {"result": len(self.calls)}


@pytest.fixture
def recording_vif(monkeypatch):
    recorder = RecordingVIF()
    monkeypatch.setattr(tessarin, "VIF", recorder)
    return recorder


def test_vif_from_pubchem_prints_and_hands_over(pubchem_server, recording_vif, capsys):
    kwargs = {"draw": False, "verbose": False, "bond_kappa": 0.5, "timeout": 1}
    assert tessarin.VIF_from_pubchem("lactic acid", **kwargs) == {"result": 1}
    assert recording_vif.calls == [(("CC(C(=O)O)O",), kwargs)]

    pubchem_server.add("cid", "5", property_table({"SMILES": "[Na+].[Cl-]"}))
    tessarin.VIF_from_pubchem(5, "cid")
    assert recording_vif.calls[-1] == (("[Na+].[Cl-]",), {})
    assert capsys.readouterr().out == (
        "[PubChem] 'lactic acid' -> CID 612 -> SMILES: CC(C(=O)O)O\n"
        "[PubChem] '5' -> CID None -> SMILES: [Na+].[Cl-]\n"
    )


def test_vif_from_pubchem_failure_prints_nothing(pubchem_server, recording_vif, capsys):
    with pytest.raises(ValueError, match="HTTP 404"):
        tessarin.VIF_from_pubchem("no such compound", verbose=False)
    with pytest.raises(ValueError, match="olmalı"):
        tessarin.VIF_from_pubchem("water", by="smiles")
    assert recording_vif.calls == [] and capsys.readouterr().out == ""
