"""Fixtures for the tests of the test servers and the test PKI."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from .wire import TOOLS

if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

from pki import make_codesign_pki, make_tls_pki  # noqa: E402
from testservers import CrlServer  # noqa: E402

for _name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
    os.environ.pop(_name, None)


@pytest.fixture(scope="session")
def tls_pki(tmp_path_factory):
    return make_tls_pki(tmp_path_factory.mktemp("tls"))


@pytest.fixture(scope="session")
def crl_server(tmp_path_factory):
    with CrlServer(tmp_path_factory.mktemp("crl"), lifetime=120) as server:
        yield server


@pytest.fixture(scope="session")
def codesign_pki(tmp_path_factory, crl_server):
    # The CRL server's port is known first; the PKI names it and fills its folder.
    return make_codesign_pki(tmp_path_factory.mktemp("codesign"), crl_server.port, crl_folder=crl_server.root,
                             extra_leaves={"no-organisation": None})


@pytest.fixture(scope="session")
def tiny_pe(tmp_path_factory) -> Path:
    compiler = shutil.which("x86_64-w64-mingw32-gcc")
    if compiler is None:
        pytest.skip("x86_64-w64-mingw32-gcc is not installed")
    folder = tmp_path_factory.mktemp("pe")
    source = folder / "tiny.c"
    source.write_text("int main(void) { return 7; }\n")
    out = folder / "tiny.exe"
    subprocess.run([compiler, "-s", "-o", str(out), str(source)], check=True, timeout=60)
    return out


def pytest_configure(config):
    config.addinivalue_line("markers", "wine: needs Wine and the project's test prefix")
