"""The test PKI: chains, revocation through the CRL server, Authenticode signatures, trust files."""

import ssl
import struct
import subprocess

import pytest

from pki import (REVOKED, UNTRUSTED, authenticode_digest, indirect_data_digest, sign_pe, sign_pe_two_signers,
                 signers_of, store_reg_text, thumbprint, verify_signer)
from pki.openssl import clean_env

TRUSTED_LEAVES = ["orvane-inc", "tessel-ag", "tessel", "contoso", "orvane-ag", "no-organisation"]


def openssl_verify(pki, leaf, *extra):
    args = ["openssl", "verify", "-CAfile", str(pki.root.cert), "-untrusted", str(pki.intermediate.cert), *extra,
            str(pki.leaves[leaf].cert)]
    done = subprocess.run(args, capture_output=True, text=True, env=clean_env(), timeout=30)
    return done.returncode == 0, done.stdout + done.stderr


def decoded(cert):
    return ssl._ssl._test_decode_cert(str(cert.cert))  # noqa: SLF001 - the stdlib's own decoder


@pytest.mark.parametrize("leaf", TRUSTED_LEAVES)
def test_trusted_leaves_verify_with_crl_check(codesign_pki, leaf):
    crls = ["-crl_check_all", "-CRLfile", str(codesign_pki.crl_pem["root"]),
            "-CRLfile", str(codesign_pki.crl_pem["intermediate"])]
    ok, output = openssl_verify(codesign_pki, leaf, *crls)
    assert ok, output


def test_revoked_leaf_fails_only_with_crl_check(codesign_pki):
    assert openssl_verify(codesign_pki, REVOKED)[0]
    ok, output = openssl_verify(codesign_pki, REVOKED, "-crl_check_all", "-CRLfile",
                                str(codesign_pki.crl_pem["root"]), "-CRLfile",
                                str(codesign_pki.crl_pem["intermediate"]))
    assert not ok and "revoked" in output


def test_leaf_under_the_other_root_does_not_chain_to_the_trusted_root(codesign_pki):
    ok, output = openssl_verify(codesign_pki, UNTRUSTED)
    assert not ok and "unable to get local issuer certificate" in output
    assert codesign_pki.untrusted.root.name == "untrusted-root"


def test_crls_are_fetched_from_the_crl_server(codesign_pki, crl_server):
    crl_server.log.clear()
    assert openssl_verify(codesign_pki, "orvane-inc", "-crl_check_all", "-crl_download")[0]
    ok, output = openssl_verify(codesign_pki, REVOKED, "-crl_check_all", "-crl_download")
    assert not ok and "revoked" in output
    fetched = {r.path: r for r in crl_server.log.records()}
    assert {"/root.crl", "/intermediate.crl"} <= set(fetched)
    answer = fetched["/intermediate.crl"]
    assert answer.status == 200 and answer.response_header("Content-Type") == "application/pkix-crl"


@pytest.mark.parametrize("leaf, organisation", [
    ("orvane-inc", "Orvane, Inc."), ("tessel-ag", "Tessel AG"), ("tessel", "Tessel"),
    ("contoso", "Contoso Games Ltd"), ("orvane-ag", "Orvane AG"), (REVOKED, "Orvane, Inc."),
    (UNTRUSTED, "Orvane, Inc."), ("no-organisation", None),
])
def test_leaf_subjects_and_distribution_points(codesign_pki, leaf, organisation):
    cert = codesign_pki.leaves[leaf]
    subject = dict(attr for rdn in decoded(cert)["subject"] for attr in rdn)
    assert subject.get("organizationName") == organisation
    issuer = "untrusted-intermediate" if leaf == UNTRUSTED else "intermediate"
    assert decoded(cert)["crlDistributionPoints"] == (
        f"http://127.0.0.1:{codesign_pki.crl_port}/{issuer}.crl",)
    usage = subprocess.run(["openssl", "x509", "-in", str(cert.cert), "-noout", "-ext", "extendedKeyUsage"],
                           capture_output=True, text=True, check=True).stdout
    assert "Code Signing" in usage


def test_ca_certificates_name_their_issuers_crl(codesign_pki):
    port = codesign_pki.crl_port
    assert decoded(codesign_pki.intermediate)["crlDistributionPoints"] == (f"http://127.0.0.1:{port}/root.crl",)
    assert sorted(p.name for p in codesign_pki.crl_folder.iterdir()) == [
        "intermediate.crl", "root.crl", "untrusted-intermediate.crl", "untrusted-root.crl"]


def osslsigncode_verify(pki, path):
    done = subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile", str(pki.root.cert)],
                          capture_output=True, text=True, env=clean_env(), timeout=60)
    return done.returncode == 0 and "Succeeded" in done.stdout, done.stdout + done.stderr


@pytest.mark.parametrize("use_pkcs12", [False, True], ids=["certs-key", "pkcs12"])
def test_signed_pe_verifies_with_osslsigncode(codesign_pki, tiny_pe, tmp_path, use_pkcs12):
    signed = sign_pe(tiny_pe, tmp_path / "signed.exe", codesign_pki.leaves["orvane-inc"], use_pkcs12=use_pkcs12)
    ok, output = osslsigncode_verify(codesign_pki, signed)
    assert ok, output
    assert "Signature CRL verification: ok" in output  # fetched from the CRL server
    assert [s.organisation for s in signers_of(signed)] == ["Orvane, Inc."]
    assert indirect_data_digest(signed) == authenticode_digest(signed)


@pytest.mark.parametrize("leaf", [REVOKED, UNTRUSTED])
def test_revoked_or_untrusted_signature_fails_osslsigncode(codesign_pki, tiny_pe, tmp_path, leaf):
    signed = sign_pe(tiny_pe, tmp_path / "signed.exe", codesign_pki.leaves[leaf])
    ok, output = osslsigncode_verify(codesign_pki, signed)
    assert not ok, output


def test_two_signers_in_one_message_keep_their_order(codesign_pki, tiny_pe, tmp_path):
    signed = sign_pe_two_signers(tiny_pe, tmp_path / "two.exe", codesign_pki.leaves["contoso"],
                                 codesign_pki.leaves["tessel-ag"])
    signers = signers_of(signed)
    assert [s.organisation for s in signers] == ["Contoso Games Ltd", "Tessel AG"]
    assert all(verify_signer(signed, s) for s in signers)
    assert indirect_data_digest(signed) == authenticode_digest(signed) == authenticode_digest(tiny_pe)


def test_tampered_signer_fails_its_own_check(codesign_pki, tiny_pe, tmp_path):
    signed = sign_pe_two_signers(tiny_pe, tmp_path / "two.exe", codesign_pki.leaves["contoso"],
                                 codesign_pki.leaves["orvane-inc"])
    first, second = signers_of(signed)
    second.signature = bytes([second.signature[0] ^ 1]) + second.signature[1:]
    assert verify_signer(signed, first) and not verify_signer(signed, second)


def test_nested_signature_is_not_a_second_signer(codesign_pki, tiny_pe, tmp_path):
    once = sign_pe(tiny_pe, tmp_path / "once.exe", codesign_pki.leaves["contoso"])
    nested = sign_pe(once, tmp_path / "nested.exe", codesign_pki.leaves["orvane-inc"], nest=True)
    assert [s.organisation for s in signers_of(nested)] == ["Contoso Games Ltd"]
    assert nested.stat().st_size > once.stat().st_size


def test_reg_file_holds_the_serialized_certificate(tls_pki):
    text = store_reg_text([tls_pki.ca, tls_pki.other_ca])
    lines = text.split("\r\n")
    assert lines[0] == "REGEDIT4" and "\n" not in text.replace("\r\n", "")
    keys = [line for line in lines if line.startswith("[")]
    assert keys == [
        rf"[HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\Root\Certificates\{thumbprint(c)}]"
        for c in (tls_pki.ca, tls_pki.other_ca)]
    first_value = text.split('"Blob"=hex:')[1].split("\r\n\r\n")[0]
    blob = bytes.fromhex(first_value.replace("\\\r\n", "").replace(" ", "").replace(",", ""))
    der = tls_pki.ca.der.read_bytes()
    assert struct.unpack_from("<III", blob) == (32, 1, len(der))
    assert blob[12:] == der
    assert thumbprint(tls_pki.ca) == thumbprint(tls_pki.ca.cert) == tls_pki.ca.thumbprint
    assert thumbprint(tls_pki.ca).isupper() and len(thumbprint(tls_pki.ca)) == 40
