import sys
import uuid
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import pki  # noqa: E402
from harness import (COLLECT_PORT, DEBUGGING_KEY, DEFAULT_DEBUGGING, UpdaterHarness, distrust_roots,  # noqa: E402
                     import_registry, remove_queue, serving, trust_roots)
from testservers import CrlServer, FileServer, Ga4Sink  # noqa: E402

# Leaves under the trusted intermediate beside the PKI's own (orvane-inc "Orvane, Inc.", tessel-ag
# "Tessel AG", tessel "Tessel", contoso "Contoso Games Ltd", orvane-ag "Orvane AG").
EXTRA_LEAVES = {"orvane": "Orvane", "tessel-inc": "Tessel, Inc.", "no-organisation": None}


@pytest.fixture(scope="session")
def tls_pki(tmp_path_factory):
    """A test TLS PKI whose CA the test prefix trusts for this session (the root is removed at the end, so
    sessions neither depend on each other nor pile up roots in the prefix)."""
    tls = pki.make_tls_pki(tmp_path_factory.mktemp("tls-pki"))
    trust_roots(tls.ca)
    yield tls
    distrust_roots(tls.ca)


class CrlService:
    """The CRL server on the port the certificates name; can be taken down and brought back."""

    def __init__(self, root):
        self.root = root
        self.server = CrlServer(root, lifetime=3600)
        self.port = self.server.port

    def down(self):
        self.server.stop()

    def up(self):
        if self.server.stopped:
            self.server = CrlServer(self.root, port=self.port, lifetime=3600)


@pytest.fixture(scope="session")
def crl_server(tmp_path_factory):
    service = CrlService(tmp_path_factory.mktemp("crl"))
    yield service
    service.down()


@pytest.fixture(scope="session")
def codesign_pki(tmp_path_factory, crl_server):
    """The test code-signing PKI (its CRLs served by `crl_server`), its root trusted in the test prefix for
    this session."""
    code_signing = pki.make_codesign_pki(tmp_path_factory.mktemp("codesign-pki"), crl_server.port,
                                         crl_folder=crl_server.root, extra_leaves=EXTRA_LEAVES)
    trust_roots(code_signing.root)
    yield code_signing
    distrust_roots(code_signing.root)


@pytest.fixture(scope="session")
def debugging_values():
    """The runs' debugging values, set once for the session (a test that changes them puts them back)."""
    import_registry({DEBUGGING_KEY: DEFAULT_DEBUGGING})
    yield
    import_registry({DEBUGGING_KEY: None})


@pytest.fixture
def updater(request, tmp_path, tls_pki, debugging_values):
    """The harness of the update run's end-to-end tests, with a product of its own for this test."""
    harness = UpdaterHarness(tmp_path, tls_pki, lambda: request.getfixturevalue("codesign_pki"),
                             product=f"E2E-{uuid.uuid4().hex[:8]}", debugging=False)
    yield harness
    harness.close()


@pytest.fixture
def empty_queue():
    remove_queue()
    yield
    remove_queue()


@pytest.fixture
def sink(tls_pki):
    """The GA4 sink over HTTPS at the port built into the test build."""
    with serving(lambda: Ga4Sink(tls=tls_pki.server, port=COLLECT_PORT, lifetime=150)) as server:
        yield server


@pytest.fixture(params=["http", "https"])
def scheme(request):
    return request.param


def _file_servers(request, tls):
    servers = []

    def make(files, **options):
        server = FileServer(files, lifetime=240, **options, **({"tls": tls()} if tls() is not None else {}))
        servers.append(server)
        return server

    request.addfinalizer(lambda: [server.stop() for server in servers])
    return make


@pytest.fixture
def make_server(scheme, request):
    """make_server(files, **FileServer options) for the test's scheme; stopped when the test ends."""
    return _file_servers(request, lambda: request.getfixturevalue("tls_pki").server if scheme == "https" else None)


@pytest.fixture
def http_server(request):
    """make_server over plain HTTP."""
    return _file_servers(request, lambda: None)
