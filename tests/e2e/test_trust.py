"""The download trust check on real files under Wine: the signer and signature check (IsFileOrvaneSigned),
through tools/TrustCheck.

Copies of tools/TestPe are signed at test time with the session's test code-signing PKI (conftest.py): a
root trusted inside the test prefix, an intermediate, leaves for the maker's organisations and others, a
revoked leaf and a leaf under a root nobody trusts. The CRLs are served on 127.0.0.1 by the CRL server
whose port the certificates name.
"""

import shutil
import struct
from dataclasses import dataclass
from pathlib import Path

import pytest

import pki
from harness import TEST_PE, TRUST_CHECK, parse_values, run_tool, user_folder, windows_path

# Every check must end well within this, whatever the file (the CRL server answers at once or refuses).
CHECK_SECONDS = 20

# CERT_TRUST_* error bits of a certificate chain.
OFFLINE_REVOCATION = 0x1000000


def run_trust_check(*args):
    done = run_tool(TRUST_CHECK, *args, timeout=CHECK_SECONDS + 30, encoding="ascii")
    assert done.returncode == 0, f"TrustCheck {args}: {done.describe()}"
    assert done.seconds < CHECK_SECONDS, f"TrustCheck {args} took {done.seconds:.1f} s"
    return parse_values(done.output, ": ")


def check_signature(path):
    return run_trust_check("signature", windows_path(path))


def check_chain(path):
    return run_trust_check("chain", windows_path(path))


def clear_revocation_caches():
    """Wine keeps fetched CRLs in WinInet's URL cache and, per certificate serial number, the revocation
    answer in CryptnetUrlCache (recording a revoked certificate as good: see docs/wine.md). Both must go
    for a check to ask the CRL server again."""
    local = user_folder() / "AppData"
    shutil.rmtree(local / "Local" / "Microsoft" / "Windows" / "INetCache", ignore_errors=True)
    shutil.rmtree(local / "LocalLow" / "Microsoft" / "CryptnetUrlCache", ignore_errors=True)


@dataclass
class Files:
    folder: Path
    pki: pki.CodeSignPki
    crl: object

    def signed(self, leaf_name):
        """A copy of the test program signed by one leaf."""
        path = self.folder / f"{leaf_name}.exe"
        if not path.exists():
            pki.sign_pe(TEST_PE, path, self.pki.leaf(leaf_name))
        return path

    def write(self, name, data):
        path = self.folder / name
        path.write_bytes(data)
        return path


@pytest.fixture(scope="module")
def files(tmp_path_factory, codesign_pki, crl_server):
    yield Files(tmp_path_factory.mktemp("trust"), codesign_pki, crl_server)
    clear_revocation_caches()


@pytest.fixture(autouse=True)
def fresh_revocation_state(files):
    files.crl.up()
    clear_revocation_caches()


# --- PE surgery -------------------------------------------------------------------------------

def pe_layout(image):
    """(offset of the security directory entry, certificate table offset and size, .text raw offset)."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0"
    sections, optional_size = struct.unpack_from("<HH", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    entry = optional + (96 if magic == 0x10B else 112) + 8 * 4
    table_offset, table_size = struct.unpack_from("<II", image, entry)
    text = None
    for i in range(sections):
        header = optional + optional_size + 40 * i
        if image[header:header + 8].rstrip(b"\0") == b".text":
            text = struct.unpack_from("<I", image, header + 20)[0]
    return entry, table_offset, table_size, text


def flip(image, offset):
    changed = bytearray(image)
    changed[offset] ^= 0x01
    return bytes(changed)


def tampered_code(signed):
    image = signed.read_bytes()
    return flip(image, pe_layout(image)[3] + 64)


def tampered_signature_value(signed):
    # The signer's signature is the last thing in the PKCS #7 message; flip a byte inside it.
    image = signed.read_bytes()
    _, table_offset, _, _ = pe_layout(image)
    message_length = len(pki.read_signature(signed))
    return flip(image, table_offset + 8 + message_length - 16)


def tampered_certificate(signed, certificate):
    # The last byte of the leaf certificate inside the table: its issuer's signature no longer holds.
    image = signed.read_bytes()
    encoded = Path(certificate.der).read_bytes()
    at = image.index(encoded)
    return flip(image, at + len(encoded) - 1)


def table_past_end(signed):
    image = bytearray(signed.read_bytes())
    entry, _, table_size, _ = pe_layout(image)
    struct.pack_into("<II", image, entry, len(image) + 4096, table_size)
    return bytes(image)


# --- the signer and signature check ---------------------------------------------------------

ACCEPTED = {"signed": "true", "signers": "1", "maker-signer": "0"}
FOREIGN = {"signed": "false", "signers": "1", "maker-signer": "-1"}  # no signer of the maker's
REFUSED = {"signed": "false", "signers": "1", "maker-signer": "0"}  # the maker's signer, but not its file
UNREADABLE = {"signed": "false", "signers": "-1", "maker-signer": "-1"}


# The maker's names themselves: the unit tests; here, that the check applies them to the signer.
@pytest.mark.parametrize("leaf, expected", [("orvane-inc", ACCEPTED), ("tessel-ag", ACCEPTED),
                                            ("contoso", FOREIGN), ("no-organisation", FOREIGN)])
def test_file_is_accepted_only_when_signed_by_a_makers_organisation(files, leaf, expected):
    assert check_signature(files.signed(leaf)) == expected


def undecodable_message(signed):
    image = bytearray(signed.read_bytes())
    image[pe_layout(image)[1] + 8] = 0x31  # the message's outer SEQUENCE tag
    return bytes(image)


def data_after_signature(files, signed):
    # A script hidden in the certificate table after the signature: signer and digest are intact, the
    # table is not.
    hidden = files.folder / "data-after-signature.exe"
    pki.replace_signature(signed, hidden, pki.read_signature(signed), b"echo pwned\r\n")
    return hidden.read_bytes()


# name: (the file's bytes from the intact signed file, what the check reports; None: only that it refuses)
DAMAGES = {
    "unsigned": (lambda f, s: TEST_PE.read_bytes(), UNREADABLE),
    # The message is intact: the maker's signer is found, and Windows refuses the changed code.
    "code-changed": (lambda f, s: tampered_code(s), REFUSED),
    # The signer's own signature no longer verifies, so there is no maker signer to trust.
    "signature-value-changed": (lambda f, s: tampered_signature_value(s), FOREIGN),
    "certificate-changed": (lambda f, s: tampered_certificate(s, f.pki.leaf("orvane-inc")), None),
    # A message that cannot be decoded fails the same way for every signer index: the scan ends.
    "message-undecodable": (lambda f, s: undecodable_message(s), UNREADABLE),
    "data-after-signature": (data_after_signature, REFUSED),
    "truncated": (lambda f, s: s.read_bytes()[:len(s.read_bytes()) // 2], None),
    "truncated-in-table": (lambda f, s: s.read_bytes()[:-40], None),
    "table-past-end": (lambda f, s: table_past_end(s), None),
    "not-a-program": (lambda f, s: b"This is a text file, not an installer.\r\n" * 50, None),
    "empty": (lambda f, s: b"", None),
}


@pytest.mark.parametrize("name", list(DAMAGES))
def test_damaged_or_foreign_files_are_rejected(files, name):
    make, expected = DAMAGES[name]
    result = check_signature(files.write(f"{name}.exe", make(files, files.signed("orvane-inc"))))
    assert result == expected if expected is not None else result["signed"] == "false", result


def test_signer_under_an_untrusted_root_is_rejected(files):
    assert check_signature(files.signed(pki.UNTRUSTED)) == REFUSED


def test_revoked_signer_is_rejected_every_time_it_is_checked(files):
    # Nothing is cleared between the checks: Wine's chain engine answers the later ones from what it
    # remembered of the first, and the check against the CRL must refuse the signer every time.
    path = files.signed(pki.REVOKED)
    for _ in range(3):
        assert check_signature(path) == REFUSED
    assert check_chain(path)["crl-check"] == "false"
    assert check_signature(files.signed("orvane-inc"))["signed"] == "true"


def test_signer_is_rejected_while_the_crl_server_is_down(files):
    path = files.signed("orvane-inc")
    files.crl.down()
    assert check_signature(path)["signed"] == "false"
    chain = check_chain(path)
    assert int(chain["chain-status"], 16) & OFFLINE_REVOCATION, chain
    assert chain["crl-check"] == "false"
    files.crl.up()
    clear_revocation_caches()
    assert check_signature(path)["signed"] == "true"
    assert check_chain(path)["crl-check"] == "true"
    assert any(record.path == "/intermediate.crl" for record in files.crl.server.log.records())


def test_nested_signature_is_not_a_second_signer(files):
    nested = files.folder / "contoso-nested-orvane.exe"
    pki.sign_pe(files.signed("contoso"), nested, files.pki.leaf("orvane-inc"), nest=True)
    assert check_signature(nested) == FOREIGN
