"""Test PKI made with the openssl command line: TLS, code signing, CRLs, Authenticode, trust.

Put the repository's `tools/` folder on sys.path, then `import pki` (see
tools/testservers/README.md for how the pieces fit together).
"""

from .authenticode import (SignerView, authenticode_digest, indirect_data_digest, merge_signatures,
                           read_signature, replace_signature, sign_pe, sign_pe_multi, sign_pe_two_signers,
                           signers_of, verify_signer)
from .codesign import DEFAULT_LEAVES, REVOKED, UNTRUSTED, CodeSignPki, make_codesign_pki
from .openssl import Cert, PkiError
from .tls import TlsPki, make_tls_pki
from .winstore import (import_into_prefix, reg_query_blob, serialized_certificate, store_reg_text, thumbprint,
                       write_store_reg)

__all__ = [
    "Cert", "CodeSignPki", "DEFAULT_LEAVES", "PkiError", "REVOKED", "SignerView", "TlsPki", "UNTRUSTED",
    "authenticode_digest", "import_into_prefix", "indirect_data_digest", "make_codesign_pki", "make_tls_pki", "merge_signatures",
    "read_signature", "reg_query_blob", "replace_signature", "serialized_certificate", "sign_pe",
    "sign_pe_multi", "sign_pe_two_signers", "signers_of", "store_reg_text", "thumbprint", "verify_signer",
    "write_store_reg",
]
