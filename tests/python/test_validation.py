"""validate(): the reference tables, the 22-line report and the verdict."""

import tessarin

RULE = "=" * 62


def test_validation_passes_with_the_shipped_tables(capsys):
    assert tessarin.validate() is True
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 22
    assert lines[:3] == [RULE, "LPI validation (Varnholt 1985)", RULE]
    assert lines[3] == "  [PASS] water        O          expected=(3, 0, 3)  found=(3, 0, 3)"
    assert lines[9] == "  [PASS] fluoromethane CF         expected=(5, 0, 6)  found=(5, 0, 6)"
    assert lines[14:17] == [RULE, "MS soft-bond validation (Orlemann 2017)", RULE]
    assert lines[17] == "  [PASS] nitrobenzene   m/z=77 expected  found peaks=[107, 77, 46, 16]"
    assert lines[18] == "  [PASS] acetone oxime  m/z=17 expected  found peaks=[56, 17]"
    assert lines[19:] == [RULE, "RESULT: ALL TESTS PASSED \u2713", RULE]


def test_quiet_validation_prints_nothing(capsys):
    assert tessarin.validate(verbose=False) is True
    assert tessarin.validate(0) is True
    assert capsys.readouterr().out == ""


def test_failures_are_reported_and_every_row_still_runs(monkeypatch, capsys):
    monkeypatch.setattr(tessarin, "LPI_REFERENCES", [("water", "O", (3, 3, 0)), ("methylamine", "CN", (6, 1, 6))])
    monkeypatch.setattr(tessarin, "MS_REFERENCES", [("methane", "C", 15)])
    assert tessarin.validate() is False
    lines = capsys.readouterr().out.splitlines()
    assert lines[3] == "  [FAIL] water        O          expected=(3, 3, 0)  found=(3, 0, 3)"
    assert lines[4].startswith("  [PASS] methylamine")
    assert lines[8] == "  [FAIL] methane        m/z=15 expected  found peaks=[]"
    assert lines[-2] == "RESULT: SOME TESTS FAILED \u2717"


def test_an_unreadable_row_stops_the_run_after_the_lines_so_far(monkeypatch, capsys):
    import pytest

    monkeypatch.setattr(tessarin, "LPI_REFERENCES", [("water", "O", (3, 0, 3)), ("broken", "C1CC", (0, 0, 0))])
    with pytest.raises(ValueError, match="SMILES okunamad"):
        tessarin.validate()
    out = capsys.readouterr().out.splitlines()
    assert len(out) == 4 and "RESULT" not in "".join(out)
