import sys
import uuid
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import pki  # noqa: E402
from testservers import CrlServer  # noqa: E402


@pytest.fixture(scope="session")
def tls_pki(tmp_path_factory):
    """A test TLS PKI whose CA the test prefix trusts for this session (the root is removed at the end, so
    sessions neither depend on each other nor pile up roots in the prefix)."""
    from runharness import distrust_roots, trust_roots

    tls = pki.make_tls_pki(tmp_path_factory.mktemp("tls-pki"))
    trust_roots(tls.ca)
    yield tls
    distrust_roots(tls.ca)


@pytest.fixture(scope="session")
def crl_server(tmp_path_factory):
    with CrlServer(tmp_path_factory.mktemp("crl"), lifetime=3600) as server:
        yield server


@pytest.fixture(scope="session")
def codesign_pki(tmp_path_factory, crl_server):
    """The test code-signing PKI (its CRLs served by `crl_server`), its root trusted in the test prefix for
    this session."""
    from runharness import distrust_roots, trust_roots

    code_signing = pki.make_codesign_pki(tmp_path_factory.mktemp("codesign-pki"), crl_server.port,
                                         crl_folder=crl_server.root)
    trust_roots(code_signing.root)
    yield code_signing
    distrust_roots(code_signing.root)


@pytest.fixture
def updater(request, tmp_path, tls_pki):
    """The harness of the update run's end-to-end tests (tests/e2e/runharness.py), with a product of its
    own for this test."""
    from runharness import UpdaterHarness

    harness = UpdaterHarness(tmp_path, tls_pki, lambda: request.getfixturevalue("codesign_pki"),
                             product=f"E2E-{uuid.uuid4().hex[:8]}")
    yield harness
    harness.close()
