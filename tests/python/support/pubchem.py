"""A stand-in for the PubChem PUG REST compound endpoint on 127.0.0.1, for tests.

It answers ``GET /rest/pug/compound/{name|cid}/<query>/property/SMILES/JSON``
from a table of canned replies, the way PubChem does: a JSON property table for
known compounds, 404 with a JSON fault for unknown ones, 400 for any other path
(so a query that leaks out of its path segment is noticed). Every raw request
path is recorded.

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

    def url(self, by, query):
        return f"{self.base}/{by}/{urllib.parse.quote(str(query), safe='')}{SUFFIX}"

    def close(self):
        self._stop.set()  # cut short any delayed reply
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=5)

    def _reply_for(self, raw_path):
        path = urllib.parse.urlsplit(raw_path).path
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
def pubchem_server(monkeypatch):
    import tessarin

    server = LocalPubChem()
    monkeypatch.setattr(tessarin, "PUBCHEM_REST", server.base)
    for var in ("no_proxy", "NO_PROXY"):
        monkeypatch.setenv(var, "127.0.0.1,localhost")
    try:
        yield server
    finally:
        server.close()
