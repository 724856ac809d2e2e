"""Thin layer over the `openssl` command line: keys, certificates, CRLs, PKCS#12."""

from __future__ import annotations

import hashlib
import os
import ssl
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, Iterable, List, Optional, Sequence

_PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                    "no_proxy", "NO_PROXY")


class PkiError(RuntimeError):
    """An openssl or osslsigncode command failed; the message holds its output."""


def clean_env() -> Dict[str, str]:
    """The environment for the tools: no proxies (CRL and chain fetches go to 127.0.0.1)."""
    env = {k: v for k, v in os.environ.items() if k not in _PROXY_VARIABLES}
    env.pop("OPENSSL_CONF", None)
    return env


def run(args: Sequence[str], *, cwd: Optional[Path] = None, timeout: float = 60.0) -> str:
    """Run a tool; raise PkiError with its output when it fails."""
    done = subprocess.run(list(map(str, args)), cwd=cwd, env=clean_env(), capture_output=True, text=True,
                          timeout=timeout)
    if done.returncode != 0:
        raise PkiError(f"{' '.join(map(str, args))} exited {done.returncode}:\n{done.stdout}{done.stderr}")
    return done.stdout + done.stderr


def generate_keys(paths: Iterable[Path], bits: int = 2048, parallel: int = 2) -> None:
    """RSA keys, at most `parallel` openssl processes at a time (key generation dominates)."""
    pending = [Path(p) for p in paths]
    running: List[tuple] = []
    while pending or running:
        while pending and len(running) < parallel:
            path = pending.pop(0)
            proc = subprocess.Popen(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt",
                                     f"rsa_keygen_bits:{bits}", "-out", str(path)],
                                    env=clean_env(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            running.append((path, proc))
        path, proc = running.pop(0)
        _, err = proc.communicate(timeout=60)
        if proc.returncode != 0:
            raise PkiError(f"key generation for {path} failed: {err.decode(errors='replace')}")


@dataclass
class Cert:
    """One certificate with its key and the files made for it.

    cert: PEM certificate; der: the same in DER; key: PEM private key (unencrypted);
    chain: PEM of this certificate followed by its issuing intermediates (not the root),
    which is what a server or a signer presents; pfx: PKCS#12 of key and chain,
    empty password (leaves only).
    """

    name: str
    subject: str
    cert: Path
    der: Path
    key: Path
    chain: Path
    serial: int
    issuer: Optional["Cert"] = None
    organisation: Optional[str] = None
    pfx: Optional[Path] = None
    crl_url: Optional[str] = None  # the CRL distribution point it names

    @property
    def der_bytes(self) -> bytes:
        return self.der.read_bytes()

    @property
    def thumbprint(self) -> str:
        """SHA-1 of the DER certificate, upper-case hex (the system store's key name)."""
        return hashlib.sha1(self.der_bytes).hexdigest().upper()

    @property
    def root(self) -> "Cert":
        cert = self
        while cert.issuer is not None:
            cert = cert.issuer
        return cert


_REQ_CONFIG = """[req]
distinguished_name = dn
prompt = no
utf8 = yes
[dn]
[ext]
{extensions}
"""


def issue(folder: Path, name: str, subject: str, extensions: Sequence[str], *, issuer: Optional[Cert] = None,
          serial: int, days: int = 3650, organisation: Optional[str] = None,
          crl_url: Optional[str] = None) -> Cert:
    """Issue a certificate for the key `folder/name.key` (made beforehand by `generate_keys`).

    Without `issuer` the certificate is self-signed (a root). `subject` is in openssl's
    "/C=../O=../CN=.." form; a comma inside a value needs no escaping there.
    """
    key = folder / f"{name}.key"
    cert = folder / f"{name}.pem"
    config = folder / f"{name}.cnf"
    config.write_text(_REQ_CONFIG.format(extensions="\n".join(extensions)))
    if issuer is None:
        run(["openssl", "req", "-new", "-x509", "-key", key, "-subj", subject, "-days", days, "-sha256",
             "-set_serial", serial, "-config", config, "-extensions", "ext", "-out", cert])
    else:
        csr = folder / f"{name}.csr"
        run(["openssl", "req", "-new", "-key", key, "-subj", subject, "-config", config, "-out", csr])
        run(["openssl", "x509", "-req", "-in", csr, "-CA", issuer.cert, "-CAkey", issuer.key, "-set_serial",
             serial, "-days", days, "-sha256", "-extfile", config, "-extensions", "ext", "-out", cert])
        csr.unlink()
    der = folder / f"{name}.cer"
    der.write_bytes(ssl.PEM_cert_to_DER_cert(cert.read_text()))
    chain = folder / f"{name}.chain.pem"
    parts = [cert.read_text()]
    up = issuer
    while up is not None and up.issuer is not None:  # intermediates only, not the root
        parts.append(up.cert.read_text())
        up = up.issuer
    chain.write_text("".join(parts))
    return Cert(name=name, subject=subject, cert=cert, der=der, key=key, chain=chain, serial=serial,
                issuer=issuer, organisation=organisation, crl_url=crl_url)


def export_pkcs12(cert: Cert, password: str = "") -> Path:
    """PKCS#12 with the key, the certificate and its intermediates."""
    out = cert.cert.with_suffix(".pfx")
    run(["openssl", "pkcs12", "-export", "-inkey", cert.key, "-in", cert.chain, "-name", cert.name,
         "-passout", f"pass:{password}", "-out", out])
    cert.pfx = out
    return out


_CA_CONFIG = """[ca]
default_ca = ca_default
[ca_default]
database = {database}
crlnumber = {crlnumber}
default_md = sha256
default_crl_days = {days}
crl_extensions = crl_ext
[crl_ext]
authorityKeyIdentifier = keyid:always
"""


def _index_line(cert: Cert) -> str:
    # The columns of openssl's CA database: status, expiry, revocation time, serial, file, subject.
    when = time.strftime("%y%m%d%H%M%SZ", time.gmtime())
    serial = format(cert.serial, "X")
    if len(serial) % 2:
        serial = "0" + serial
    return f"R\t{when}\t{when},keyCompromise\t{serial}\tunknown\t{cert.subject}\n"


def make_crl(issuer: Cert, revoked: Iterable[Cert], out_der: Path, out_pem: Path, *, days: int = 30) -> Path:
    """A CRL signed by `issuer` listing `revoked`, written as DER and as PEM."""
    work = issuer.cert.parent
    database = work / f"{issuer.name}.index"
    crlnumber = work / f"{issuer.name}.crlnumber"
    database.write_text("".join(_index_line(c) for c in revoked))
    crlnumber.write_text("01\n")
    config = work / f"{issuer.name}.ca.cnf"
    config.write_text(_CA_CONFIG.format(database=database, crlnumber=crlnumber, days=days))
    run(["openssl", "ca", "-gencrl", "-config", config, "-keyfile", issuer.key, "-cert", issuer.cert,
         "-out", out_pem])
    run(["openssl", "crl", "-in", out_pem, "-outform", "DER", "-out", out_der])
    return out_der
