"""TLS contexts for the test servers and for Python clients in tests."""

from __future__ import annotations

import os
import ssl
from typing import Any


def server_tls_context(tls: Any) -> ssl.SSLContext:
    """A server context from an SSLContext, a (cert, key) pair of PEM paths, or a pki `Cert`.

    With a pki `Cert` the server presents its chain file (the certificate and any
    intermediates), so clients need only trust the root.
    """
    if isinstance(tls, ssl.SSLContext):
        return tls
    if isinstance(tls, (tuple, list)) and len(tls) == 2:
        cert, key = tls
    elif hasattr(tls, "key") and (hasattr(tls, "chain") or hasattr(tls, "cert")):
        cert, key = getattr(tls, "chain", None) or tls.cert, tls.key
    else:
        raise TypeError(f"cannot make a TLS context of {tls!r}")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.fspath(cert), os.fspath(key))
    return context


def client_tls_context(cafile: Any) -> ssl.SSLContext:
    """A verifying client context that trusts only `cafile` (a PEM path or a pki `Cert`)."""
    path = getattr(cafile, "cert", cafile)
    context = ssl.create_default_context(cafile=os.fspath(path))
    context.check_hostname = True
    return context
