"""Fixtures of the download engine's tests: loopback file servers over HTTP and HTTPS."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from pki import import_into_prefix, make_tls_pki  # noqa: E402
from testservers import FileServer  # noqa: E402
from winehost import PREFIX  # noqa: E402

from downloadengine import DRIVER  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def download_driver_built():
    if not DRIVER.exists():
        pytest.fail(f"{DRIVER} is missing: build the mingw-x64 preset first")


@pytest.fixture(scope="session")
def download_tls(tmp_path_factory):
    """A test CA trusted inside the prefix, and the server certificate it signed (DNS:127.0.0.1)."""
    tls = make_tls_pki(tmp_path_factory.mktemp("download-tls"))
    import_into_prefix(PREFIX, tls.ca)
    return tls


@pytest.fixture(params=["http", "https"])
def scheme(request):
    return request.param


def _file_servers(tls_source):
    """A maker of file servers (TLS from tls_source() when it gives one) and the list of those it made."""
    servers = []

    def make(files, **options):
        tls = tls_source()
        if tls is not None:
            options["tls"] = tls
        server = FileServer(files, lifetime=240, **options)
        servers.append(server)
        return server

    return make, servers


@pytest.fixture
def make_server(scheme, request):
    """make_server(files, **FileServer options) for the test's scheme; stopped when the test ends."""
    make, servers = _file_servers(
        lambda: request.getfixturevalue("download_tls").server if scheme == "https" else None)
    yield make
    for server in servers:
        server.stop()


@pytest.fixture
def http_server():
    """http_server(files, **FileServer options) over plain HTTP; stopped when the test ends."""
    make, servers = _file_servers(lambda: None)
    yield make
    for server in servers:
        server.stop()
