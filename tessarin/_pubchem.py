"""SMILES by compound name or CID from the PubChem PUG REST service."""

from typing import Any, Literal

from . import _native
from ._package import package

PUBCHEM_REST = _native.PUBCHEM_REST  # the compound endpoint every request starts with


def fetch_smiles_from_pubchem(
    query: str | int, by: Literal["name", "cid"] = "name", timeout: float = 20
) -> tuple[str, int | None]:
    """(SMILES, CID) of a compound looked up by name or CID.

    ``by`` is ``"name"`` or ``"cid"``; ``query`` a compound name (``str``) or a
    CID (``int`` or numeric ``str``), sent as one path segment of the request
    to ``tessarin.PUBCHEM_REST`` (read at each call). ``timeout`` bounds the
    whole exchange, in seconds. The CID is ``None`` when the record has none.

    Raises ``ValueError`` when PubChem answers with another status than 200,
    with no record or with a record without SMILES (``json.JSONDecodeError``
    when the body is not JSON), ``ConnectionError`` when PubChem cannot be
    reached and ``TimeoutError`` when it does not answer in time.
    """
    base = package().PUBCHEM_REST
    return _native.fetch_smiles(base, by, query, timeout)


def VIF_from_pubchem(query: str | int, by: Literal["name", "cid"] = "name", **vif_kwargs: Any) -> dict[str, Any] | str:
    """Look a compound up on PubChem and run ``VIF`` on its SMILES."""
    smiles, cid = fetch_smiles_from_pubchem(query, by=by)
    print(f"[PubChem] '{query}' -> CID {cid} -> SMILES: {smiles}")
    return package().VIF(smiles, **vif_kwargs)
