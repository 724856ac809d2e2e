"""A raw HTTP client for the server tests: sees every byte as sent, lies included."""

from __future__ import annotations

import socket
import ssl
import time
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Tuple

TOOLS = Path(__file__).resolve().parents[2] / "tools"


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
