"""TLS test PKI: a CA with a server certificate for 127.0.0.1, and a second, foreign CA."""

from __future__ import annotations

import secrets
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

from .openssl import Cert, generate_keys, issue

_CA_EXTENSIONS = [
    "basicConstraints = critical, CA:TRUE",
    "keyUsage = critical, keyCertSign, cRLSign",
    "subjectKeyIdentifier = hash",
]

# Wine matches only DNS names, so 127.0.0.1 is also written as a DNS name; the IP entry
# serves clients that follow the RFC (Python's ssl among them).
_SERVER_EXTENSIONS = [
    "basicConstraints = critical, CA:FALSE",
    "keyUsage = critical, digitalSignature, keyEncipherment",
    "extendedKeyUsage = serverAuth",
    "subjectAltName = DNS:127.0.0.1, IP:127.0.0.1",
    "subjectKeyIdentifier = hash",
    "authorityKeyIdentifier = keyid",
]


@dataclass
class TlsPki:
    """ca signs server (trust ca in the test prefix); other_ca signs other_server, which
    presents the same names but must be rejected by a client that trusts only ca."""

    folder: Path
    ca: Cert
    server: Cert
    other_ca: Cert
    other_server: Cert


def make_tls_pki(folder, *, tag: Optional[str] = None) -> TlsPki:
    """Make the TLS PKI into `folder` (created if needed). `tag` tells CAs of different
    runs apart in their names (random by default)."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    tag = tag or secrets.token_hex(3)
    names = ("tls-ca", "tls-server", "other-ca", "other-server")
    generate_keys(folder / f"{n}.key" for n in names)

    def serial() -> int:
        return secrets.randbits(63) | 1

    ca = issue(folder, "tls-ca", f"/O=Orvane Test/CN=Orvane Test TLS CA {tag}", _CA_EXTENSIONS, serial=serial())
    server = issue(folder, "tls-server", "/O=Orvane Test/CN=127.0.0.1", _SERVER_EXTENSIONS, issuer=ca,
                   serial=serial(), days=825)
    other_ca = issue(folder, "other-ca", f"/O=Foreign Test/CN=Foreign Test TLS CA {tag}", _CA_EXTENSIONS,
                     serial=serial())
    other_server = issue(folder, "other-server", "/O=Foreign Test/CN=127.0.0.1", _SERVER_EXTENSIONS,
                         issuer=other_ca, serial=serial(), days=825)
    return TlsPki(folder=folder, ca=ca, server=server, other_ca=other_ca, other_server=other_server)
