"""HTTPS with the test PKI, and the GA4 sink (which the program reaches over HTTPS)."""

import ssl
import urllib.request

import pytest

from .wire import exchange
from testservers import FileServer, Ga4Sink, UpdateService, client_tls_context


def test_https_file_server_verifies_against_the_test_ca(tls_pki):
    with FileServer({"/x": b"secure"}, tls=tls_pki.server, lifetime=30) as srv:
        assert srv.url("/x").startswith("https://127.0.0.1:")
        context = client_tls_context(tls_pki.ca)
        with urllib.request.urlopen(srv.url("/x"), context=context, timeout=5) as response:
            assert response.read() == b"secure"
        got = exchange(srv.port, "/x", headers=[("Range", "bytes=1-2")], tls=context)
        assert (got.status, got.body) == (206, b"ec")
        assert srv.log.wait(2)[0].tls


def test_server_certificate_from_another_ca_is_rejected(tls_pki):
    with FileServer({"/x": b"secure"}, tls=tls_pki.other_server, lifetime=30) as srv:
        with pytest.raises(ssl.SSLCertVerificationError):
            exchange(srv.port, "/x", tls=client_tls_context(tls_pki.ca))
        # The same server is fine for a client that trusts its own CA.
        assert exchange(srv.port, "/x", tls=client_tls_context(tls_pki.other_ca)).body == b"secure"
        assert len(srv.log) == 1  # the refused handshake never became a request


def test_server_certificate_names_127_0_0_1_as_dns_name(tls_pki):
    text = tls_pki.server.cert.read_text()
    decoded = ssl._ssl._test_decode_cert(str(tls_pki.server.cert))  # noqa: SLF001 - stdlib decoder
    assert ("DNS", "127.0.0.1") in decoded["subjectAltName"]
    assert text.startswith("-----BEGIN CERTIFICATE-----")


def test_https_update_service(tls_pki):
    with UpdateService({"url": "u"}, tls=tls_pki.server, lifetime=30) as service:
        got = exchange(service.port, "/v1/client-updates/?productName=x", tls=client_tls_context(tls_pki.ca))
    assert got.body == b'{"url": "u"}'


HIT = ("/g/collect?tid=G-TEST123456&en=Update&_p=abc.DEF&_z=ccd.v9b&cid=123.456&ep.result=Succeeded"
       "&uid=U%20x%2B%26&seg=1&sid=-5&v=2&ep.app_name=Updater&ep.app_version=1.1.1.93&sr=1920x1080&ul=en-us&_et=1")


@pytest.fixture
def sink(tls_pki):
    with Ga4Sink(tls=tls_pki.server, lifetime=30) as server:
        yield server


@pytest.fixture
def client(tls_pki):
    return client_tls_context(tls_pki.ca)


def test_sink_records_hits_with_parameters_in_order(sink, client):
    got = exchange(sink.port, HIT, tls=client)
    hit = sink.wait_for_hits(1)[0]
    assert got.status == 204 and got.header("Content-Length") is None
    assert hit.keys == ["tid", "en", "_p", "_z", "cid", "ep.result", "uid", "seg", "sid", "v", "ep.app_name",
                        "ep.app_version", "sr", "ul", "_et"]
    assert hit.param("uid") == "U x+&"  # decoded; the raw query keeps the escapes
    assert "uid=U%20x%2B%26" in hit.query
    assert hit.status == 204


def test_sink_fails_then_recovers(sink, client):
    sink.fail_next(2, status=500)
    statuses = [exchange(sink.port, HIT, tls=client).status for _ in range(3)]
    assert statuses == [500, 500, 204]
    assert [h.status for h in sink.hits] == [500, 500, 204]


def test_sink_stalls_the_next_hits(sink, client):
    sink.stall_next(1, seconds=0.4)
    stalled = exchange(sink.port, HIT, tls=client)
    prompt = exchange(sink.port, HIT, tls=client)
    assert stalled.elapsed >= 0.4 and stalled.status == 204
    assert prompt.elapsed < 0.4


def test_sink_endless_stall_times_out_the_client_then_clears(sink, client):
    sink.stall_next(1)
    held = exchange(sink.port, HIT, tls=client, timeout=0.3)
    assert held.status is None and not held.closed
    sink.clear_faults()
    assert exchange(sink.port, HIT, tls=client).status == 204
    assert len(sink.hits) == 2


def test_sink_ignores_other_paths(sink, client):
    assert exchange(sink.port, "/collect?x=1", tls=client).status == 404
    assert sink.hits == []
