"""Fixtures for the tests of the test servers and the test PKI."""

from __future__ import annotations

import os
import shutil
import socket
import ssl
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Tuple

import pytest

TOOLS = Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS))

from pki import make_codesign_pki, make_tls_pki  # noqa: E402
from testservers import CrlServer  # noqa: E402

for _name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
    os.environ.pop(_name, None)


@dataclass
class Exchange:
    """What a raw client saw: the status line, headers, and every byte after them."""

    status: Optional[int]
    headers: List[Tuple[str, str]]
    body: bytes  # raw bytes after the header block, framing included
    received: bytes  # everything, for answers that are not HTTP at all
    elapsed: float
    closed: bool  # the server closed the connection (False: the client timed out)

    def header(self, name: str) -> Optional[str]:
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


def exchange(port: int, target: str = "/", *, method: str = "GET", headers=(), tls: Optional[ssl.SSLContext] = None,
             timeout: float = 5.0) -> Exchange:
    """Send one request with "Connection: close" and read until the server closes."""
    started = time.monotonic()
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if tls is not None:
        sock = tls.wrap_socket(sock, server_hostname="127.0.0.1")
    lines = [f"{method} {target} HTTP/1.1", f"Host: 127.0.0.1:{port}", "Connection: close"]
    lines += [f"{k}: {v}" for k, v in headers]
    sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
    received, closed = b"", False
    try:
        while True:
            data = sock.recv(65536)
            if not data:
                closed = True
                break
            received += data
    except socket.timeout:
        pass
    except (ConnectionResetError, ssl.SSLError):
        closed = True
    finally:
        sock.close()
    elapsed = time.monotonic() - started
    head, sep, body = received.partition(b"\r\n\r\n")
    status, parsed = None, []
    if sep and head.startswith(b"HTTP/"):
        first, *rest = head.decode("latin-1").split("\r\n")
        status = int(first.split(" ")[1])
        parsed = [tuple(part.strip() for part in line.split(":", 1)) for line in rest]
    return Exchange(status, parsed, body if sep else b"", received, elapsed, closed)


def dechunk(body: bytes) -> bytes:
    out, pos = b"", 0
    while True:
        end = body.index(b"\r\n", pos)
        size = int(body[pos:end], 16)
        if size == 0:
            return out
        out += body[end + 2:end + 2 + size]
        pos = end + 2 + size + 2


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
    config.addinivalue_line("markers", "wine: needs Wine and creates a throwaway prefix (~10 s)")
