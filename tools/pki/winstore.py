"""Trusting a certificate inside a Wine prefix: a REGEDIT4 file for the system root store.

The registry store keeps each certificate under
  HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\<store>\\Certificates\\<SHA-1>
with the value "Blob": the serialized certificate, a sequence of properties
(id u32 LE, 1 u32 LE, length u32 LE, data), the encoded certificate being property 32.
The key name must be the certificate's SHA-1 thumbprint in upper-case hex: Wine's store
loader drops an entry whose name does not match its certificate.

Import with `wine regedit /S file.reg` or `wine reg import file.reg`.
"""

from __future__ import annotations

import hashlib
import ssl
import struct
from pathlib import Path
from typing import Iterable, Union

CERT_CERT_PROP_ID = 32
_STORE_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\{store}\Certificates\{thumbprint}"

CertSource = Union[bytes, str, Path, object]


def certificate_der(source: CertSource) -> bytes:
    """DER bytes from DER bytes, a PEM or DER file path, or a pki `Cert`."""
    if hasattr(source, "der"):
        return Path(source.der).read_bytes()
    if isinstance(source, (bytes, bytearray)):
        data = bytes(source)
    else:
        data = Path(source).read_bytes()
    if data.lstrip().startswith(b"-----BEGIN"):
        return ssl.PEM_cert_to_DER_cert(data.decode("ascii"))
    return data


def thumbprint(source: CertSource) -> str:
    return hashlib.sha1(certificate_der(source)).hexdigest().upper()


def serialized_certificate(source: CertSource) -> bytes:
    """The "Blob" value: one property, the encoded certificate."""
    encoded = certificate_der(source)
    return struct.pack("<III", CERT_CERT_PROP_ID, 1, len(encoded)) + encoded


def _hex_value(name: str, data: bytes) -> str:
    # regedit's hex: form, wrapped with backslash continuations like regedit writes it.
    head = f'"{name}"=hex:'
    items = [f"{b:02x}" for b in data]
    lines, line = [], head
    for index, item in enumerate(items):
        piece = item + ("," if index < len(items) - 1 else "")
        if len(line) + len(piece) > 76:
            lines.append(line + "\\")
            line = "  "
        line += piece
    lines.append(line)
    return "\r\n".join(lines)


def store_reg_text(certificates: Iterable[CertSource], store: str = "Root") -> str:
    """REGEDIT4 text adding `certificates` to the machine store `store` ("Root", "CA", ...)."""
    parts = ["REGEDIT4", ""]
    for cert in certificates:
        key = _STORE_KEY.format(store=store, thumbprint=thumbprint(cert))
        parts += [f"[{key}]", _hex_value("Blob", serialized_certificate(cert)), ""]
    return "\r\n".join(parts) + "\r\n"


def write_store_reg(path, *certificates: CertSource, store: str = "Root") -> Path:
    """Write the .reg file that trusts `certificates` (as roots by default)."""
    path = Path(path)
    path.write_bytes(store_reg_text(certificates, store).encode("ascii"))
    return path


def reg_query_blob(output: str) -> bytes:
    """The bytes of "Blob" from `wine reg query <key> /v Blob` output (REG_BINARY as hex)."""
    for line in output.splitlines():
        fields = line.split()
        if len(fields) >= 3 and fields[0] == "Blob" and fields[1] == "REG_BINARY":
            return bytes.fromhex(fields[2])
    raise ValueError("no Blob value in the output")


def import_into_prefix(wineprefix, *certificates: CertSource, store: str = "Root", timeout: float = 120.0) -> Path:
    """Trust `certificates` inside a Wine prefix with `wine reg import`; returns the .reg file.

    Runs with WINEDEBUG=-all and without proxy variables. The prefix's wineserver
    (persistent or not) takes the change at once.
    """
    import os
    import subprocess

    prefix = Path(wineprefix)
    reg = write_store_reg(prefix / f"trust-{store.lower()}.reg", *certificates, store=store)
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all")
    subprocess.run(["wine", "reg", "import", "Z:" + str(reg.resolve())], env=env, check=True, timeout=timeout,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return reg
