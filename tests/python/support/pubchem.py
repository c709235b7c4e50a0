"""A stand-in for the PubChem PUG REST compound endpoint on 127.0.0.1, for tests.

It answers ``GET /rest/pug/compound/{name|cid}/<query>/property/SMILES/JSON``
from a table of canned replies, the way PubChem does: a JSON property table for
known compounds, 404 with a JSON fault for unknown ones, 400 for any other path
(so a query that leaks out of its path segment is noticed). Every raw request
path is recorded.

Searches by formula are answered as the service documents them:
``fastformula/<formula>/property/<properties>/JSON?MaxRecords=N`` with the
property table at once, ``formula/<formula>/...`` with HTTP 202 and a
``{"Waiting": {"ListKey": ...}}`` reply, the key then polled at
``listkey/<key>/property/<properties>/JSON`` (202 "Waiting" for the first
``polls_before_ready`` polls, then the table). A formula no compound has gets
404 with a PUGREST.NotFound fault. ``busy`` requests from now on are answered
503 PUGREST.ServerBusy, as when the service throttles.

In a test module::

    from support.pubchem import pubchem_server  # noqa: F401  (pytest fixture)

    def test_something(pubchem_server):
        pubchem_server.add("name", "odd", {"PropertyTable": {}})
        ...
        assert pubchem_server.paths == ["/rest/pug/compound/name/odd/property/SMILES/JSON"]

The fixture starts a fresh server on a free port, points ``tessarin.PUBCHEM_REST``
at it and keeps proxies out of the way for 127.0.0.1.
"""

import json
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

PREFIX = "/rest/pug/compound/"
SUFFIX = "/property/SMILES/JSON"

# (name, CID, SMILES) of the compounds every server knows.
COMPOUNDS = [
    ("water", 962, "O"),
    ("glycine", 750, "C(C(=O)O)N"),
    ("urea", 1176, "C(=O)(N)N"),
    ("lactic acid", 612, "CC(C(=O)O)O"),
    ("acetic acid", 176, "CC(=O)O"),
    # the rest of the panels' default molecules
    ("glucose", 5793, "C(C1C(C(C(C(O1)O)O)O)O)O"),
    ("adenine", 190, "C1=NC2=NC=NC(=C2N1)N"),
    ("dopamine", 681, "C1=CC(=C(C=C1CCN)O)O"),
    ("ascorbic acid", 54670067, "C(C(C1C(=C(C(=O)O1)O)O)O)O"),
    ("cytosine", 597, "C1=C(NC(=O)N=C1)N"),
]

NOT_FOUND = {
    "Fault": {
        "Code": "PUGREST.NotFound",
        "Message": "No CID found",
        "Details": ["No CID found that matches the given name"],
    }
}
BAD_REQUEST = {"Fault": {"Code": "PUGREST.BadRequest", "Message": "Unable to parse the request"}}
SERVER_BUSY = {"Fault": {"Code": "PUGREST.ServerBusy", "Message": "Too many requests or server too busy"}}
NO_COMPOUND = {"Fault": {"Code": "PUGREST.NotFound", "Message": "No CID found"}}

# What a search by formula asks for, and the keys the service answers with
# (it answers IsomericSMILES as "SMILES").
SEARCH_PROPERTIES = "MolecularFormula,IsomericSMILES,Title"
SEARCH_ROUTES = ("fastformula", "formula", "listkey")


def property_table(*records):
    """The JSON reply PubChem gives for these property records."""
    return {"PropertyTable": {"Properties": list(records)}}


class Reply:
    def __init__(self, body, status=200, delay=0.0, headers=None):
        if isinstance(body, (dict, list)) or body is None:
            body = json.dumps(body)
        self.body = body.encode() if isinstance(body, str) else bytes(body)
        self.status = status
        self.delay = delay
        self.headers = dict(headers or {})


class LocalPubChem:
    """The server: ``base`` is its PUBCHEM_REST, ``paths`` the raw paths requested."""

    def __init__(self):
        self.replies = {}
        self.paths = []
        self.compounds = {}  # formula -> property records
        self.list_keys = {}  # key -> [polls left before ready, formula, max records]
        self.polls_before_ready = 2
        self.busy = 0
        self._lock = threading.Lock()
        self._stop = threading.Event()
        for name, cid, smiles in COMPOUNDS:
            record = {"CID": cid, "SMILES": smiles}
            self.add("name", name, property_table(record))
            self.add("cid", str(cid), property_table(record))
        self._server = ThreadingHTTPServer(("127.0.0.1", 0), self._handler_class())
        self._server.daemon_threads = True
        self.base = f"http://127.0.0.1:{self._server.server_port}/rest/pug/compound"
        self._thread = threading.Thread(
            target=self._server.serve_forever, args=(0.05,), name="local-pubchem", daemon=True
        )
        self._thread.start()

    def add(self, by, query, body, status=200, delay=0.0, headers=None):
        """Answer the lookup of ``query`` (as the client was given it) with this reply.

        ``body`` is JSON-encoded when it is a dict, list or None, sent as UTF-8
        when a str and as is when bytes; the reply waits ``delay`` seconds first.
        """
        self.replies[(by, str(query))] = Reply(body, status, delay, headers)

    def add_compounds(self, formula, *compounds):
        """Compounds a search for ``formula`` finds: (CID, SMILES, title) each, in this order."""
        records = self.compounds.setdefault(formula, [])
        for cid, smiles, title in compounds:
            records.append({"CID": cid, "MolecularFormula": formula, "SMILES": smiles, "Title": title})

    def search_paths(self):
        """The paths of the searches by formula and the list-key polls, in order."""
        return [p for p in self.paths if p[len(PREFIX) :].split("/", 1)[0] in SEARCH_ROUTES]

    def url(self, by, query):
        return f"{self.base}/{by}/{urllib.parse.quote(str(query), safe='')}{SUFFIX}"

    def close(self):
        self._stop.set()  # cut short any delayed reply
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=5)

    def _search_reply(self, route, segment, rest, query):
        if rest != f"property/{SEARCH_PROPERTIES}/JSON":
            return Reply(BAD_REQUEST, status=400)
        options = urllib.parse.parse_qs(query, strict_parsing=bool(query))
        if (route == "listkey" and options) or set(options) - {"MaxRecords"}:
            return Reply(BAD_REQUEST, status=400)
        canned = self.replies.get((route, segment))
        if canned is not None:
            return canned
        if self.busy > 0:
            self.busy -= 1
            return Reply(SERVER_BUSY, status=503)
        if route == "listkey":
            state = self.list_keys.get(segment)
            if state is None:
                return Reply(BAD_REQUEST, status=400)
            if state[0] > 0:
                state[0] -= 1
                return Reply({"Waiting": {"ListKey": segment, "Message": "Your request is running"}}, status=202)
            formula, most = state[1], state[2]
        else:
            formula, most = segment, int(options.get("MaxRecords", ["1000000"])[0])
            if route == "formula":
                key = str(1000 + len(self.list_keys))
                self.list_keys[key] = [self.polls_before_ready, formula, most]
                return Reply({"Waiting": {"ListKey": key, "Message": "Your request is running"}}, status=202)
        records = self.compounds.get(formula)
        if not records:
            return Reply(NO_COMPOUND, status=404)
        return Reply(property_table(*records[:most]))

    def _reply_for(self, raw_path):
        split = urllib.parse.urlsplit(raw_path)
        path = split.path
        if path.startswith(PREFIX):
            route, _, rest = path[len(PREFIX) :].partition("/")
            segment, _, rest = rest.partition("/")
            if route in SEARCH_ROUTES:
                if not segment:
                    return Reply(BAD_REQUEST, status=400)
                return self._search_reply(route, urllib.parse.unquote(segment), rest, split.query)
        if not (path.startswith(PREFIX) and path.endswith(SUFFIX)) or urllib.parse.urlsplit(raw_path).query:
            return Reply(BAD_REQUEST, status=400)
        by, _, segment = path[len(PREFIX) : -len(SUFFIX)].partition("/")
        if by not in ("name", "cid") or not segment or "/" in segment:
            return Reply(BAD_REQUEST, status=400)
        return self.replies.get((by, urllib.parse.unquote(segment)), Reply(NOT_FOUND, status=404))

    def _handler_class(self):
        server = self

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self):
                with server._lock:
                    server.paths.append(self.path)
                    reply = server._reply_for(self.path)
                if reply.delay and server._stop.wait(reply.delay):
                    return
                try:
                    self.send_response(reply.status)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(reply.body)))
                    for key, value in reply.headers.items():
                        self.send_header(key, value)
                    self.end_headers()
                    self.wfile.write(reply.body)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # the client gave up (time-out, size limit)

            def log_message(self, *args):
                pass

        return Handler


@pytest.fixture
def pubchem_server(monkeypatch, tmp_path):
    import tessarin

    server = LocalPubChem()
    monkeypatch.setattr(tessarin, "PUBCHEM_REST", server.base)
    # Cached replies go to the test's own directory, never to the user's cache.
    monkeypatch.setenv("TESSARIN_PUBCHEM_CACHE", str(tmp_path / "pubchem-cache"))
    for var in ("no_proxy", "NO_PROXY"):
        monkeypatch.setenv(var, "127.0.0.1,localhost")
    try:
        yield server
    finally:
        server.close()
