"""Code-signing test PKI: root -> intermediate -> leaves, a revoked leaf, an untrusted root, CRLs.

The CRL server's port is chosen first (start a `CrlServer` on the `crl` folder, or on an
empty folder that this fills), then the PKI is made naming that port in every CRL
distribution point: http://127.0.0.1:<port>/<issuer name>.crl.
"""

from __future__ import annotations

import secrets
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, Mapping, Optional

from .openssl import Cert, export_pkcs12, generate_keys, issue, make_crl

# Leaves signed by the trusted intermediate: file name -> organisation.
DEFAULT_LEAVES: Dict[str, str] = {
    "orvane-inc": "Orvane, Inc.",
    "tessel-ag": "Tessel AG",
    "tessel": "Tessel",
    "contoso": "Contoso Games Ltd",
    "orvane-ag": "Orvane AG",
}
REVOKED = "orvane-inc-revoked"
UNTRUSTED = "orvane-inc-untrusted"


def _crl_url(port: int, issuer_name: str) -> str:
    return f"http://127.0.0.1:{port}/{issuer_name}.crl"


def _ca_extensions(crl_url: str, *, root: bool) -> list:
    lines = [
        "basicConstraints = critical, CA:TRUE" + ("" if root else ", pathlen:0"),
        "keyUsage = critical, keyCertSign, cRLSign",
        "subjectKeyIdentifier = hash",
        f"crlDistributionPoints = URI:{crl_url}",
    ]
    if not root:
        lines.append("authorityKeyIdentifier = keyid")
    return lines


def _leaf_extensions(crl_url: str) -> list:
    return [
        "basicConstraints = critical, CA:FALSE",
        "keyUsage = critical, digitalSignature",
        "extendedKeyUsage = codeSigning",
        "subjectKeyIdentifier = hash",
        "authorityKeyIdentifier = keyid",
        f"crlDistributionPoints = URI:{crl_url}",
    ]


def _subject(organisation: Optional[str], common_name: str) -> str:
    return f"/C=US/O={organisation}/CN={common_name}" if organisation else f"/C=US/CN={common_name}"


@dataclass
class CodeSignPki:
    """The files of the code-signing PKI.

    root, intermediate: the trusted chain (trust `root` in the test prefix).
    leaves: every leaf by file name: those of DEFAULT_LEAVES (and any extras), plus
        "orvane-inc-revoked" (listed in the intermediate's CRL) and
        "orvane-inc-untrusted" (under `untrusted_root`, which is never to be trusted).
    crl_folder: the DER CRLs, named <issuer>.crl, to serve with a CrlServer.
    crl_pem: the same CRLs in PEM by issuer name (for `openssl verify -CRLfile`).
    """

    folder: Path
    crl_port: int
    crl_folder: Path
    root: Cert
    intermediate: Cert
    untrusted_root: Cert
    untrusted_intermediate: Cert
    leaves: Dict[str, Cert] = field(default_factory=dict)
    crl_pem: Dict[str, Path] = field(default_factory=dict)

    def leaf(self, name: str) -> Cert:
        return self.leaves[name]

    @property
    def revoked(self) -> Cert:
        return self.leaves[REVOKED]

    @property
    def untrusted(self) -> Cert:
        return self.leaves[UNTRUSTED]


def make_codesign_pki(folder, crl_port: int, *, extra_leaves: Optional[Mapping[str, Optional[str]]] = None,
                      crl_folder=None, tag: Optional[str] = None) -> CodeSignPki:
    """Make the code-signing PKI into `folder`; CRLs go to `crl_folder` (default folder/crl).

    extra_leaves: {file name: organisation or None for a subject without one}, issued
    like the default leaves by the trusted intermediate.
    tag: tells the CAs of different runs apart in their names (random by default).
    """
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    crl_folder = Path(crl_folder) if crl_folder is not None else folder / "crl"
    crl_folder.mkdir(parents=True, exist_ok=True)
    tag = tag or secrets.token_hex(3)
    leaves_wanted: Dict[str, Optional[str]] = dict(DEFAULT_LEAVES)
    leaves_wanted.update(extra_leaves or {})
    leaves_wanted[REVOKED] = "Orvane, Inc."

    names = ["root", "intermediate", "untrusted-root", "untrusted-intermediate", UNTRUSTED, *leaves_wanted]
    generate_keys(folder / f"{n}.key" for n in names)

    def serial() -> int:
        return secrets.randbits(63) | 1

    root = issue(folder, "root", f"/C=US/O=Orvane Test/CN=Orvane Test Code Signing Root {tag}",
                 _ca_extensions(_crl_url(crl_port, "root"), root=True), serial=serial(),
                 crl_url=_crl_url(crl_port, "root"))
    intermediate = issue(folder, "intermediate", f"/C=US/O=Orvane Test/CN=Orvane Test Code Signing CA {tag}",
                         _ca_extensions(_crl_url(crl_port, "root"), root=False), issuer=root, serial=serial(),
                         crl_url=_crl_url(crl_port, "root"))
    untrusted_root = issue(folder, "untrusted-root", f"/C=US/O=Untrusted Test/CN=Untrusted Test Root {tag}",
                           _ca_extensions(_crl_url(crl_port, "untrusted-root"), root=True), serial=serial(),
                           crl_url=_crl_url(crl_port, "untrusted-root"))
    untrusted_intermediate = issue(
        folder, "untrusted-intermediate", f"/C=US/O=Untrusted Test/CN=Untrusted Test CA {tag}",
        _ca_extensions(_crl_url(crl_port, "untrusted-root"), root=False), issuer=untrusted_root,
        serial=serial(), crl_url=_crl_url(crl_port, "untrusted-root"))

    leaves: Dict[str, Cert] = {}
    for name, organisation in leaves_wanted.items():
        url = _crl_url(crl_port, "intermediate")
        leaves[name] = issue(folder, name, _subject(organisation, f"{name} test signer"),
                             _leaf_extensions(url), issuer=intermediate, serial=serial(), days=825,
                             organisation=organisation, crl_url=url)
    url = _crl_url(crl_port, "untrusted-intermediate")
    leaves[UNTRUSTED] = issue(folder, UNTRUSTED, _subject("Orvane, Inc.", f"{UNTRUSTED} test signer"),
                              _leaf_extensions(url), issuer=untrusted_intermediate, serial=serial(), days=825,
                              organisation="Orvane, Inc.", crl_url=url)
    for cert in leaves.values():
        export_pkcs12(cert)

    crl_pem: Dict[str, Path] = {}
    revoked_by = {"root": [], "intermediate": [leaves[REVOKED]], "untrusted-root": [],
                  "untrusted-intermediate": []}
    for issuer in (root, intermediate, untrusted_root, untrusted_intermediate):
        pem = folder / f"{issuer.name}.crl.pem"
        make_crl(issuer, revoked_by[issuer.name], crl_folder / f"{issuer.name}.crl", pem)
        crl_pem[issuer.name] = pem

    return CodeSignPki(folder=folder, crl_port=crl_port, crl_folder=crl_folder, root=root,
                       intermediate=intermediate, untrusted_root=untrusted_root,
                       untrusted_intermediate=untrusted_intermediate, leaves=leaves, crl_pem=crl_pem)
