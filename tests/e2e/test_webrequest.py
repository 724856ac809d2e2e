"""CHttpWebRequest against real loopback servers, through tools/WebRequestDriver under Wine. (A refused
connection: test_update_query.py.)"""

import hashlib
import os

import pytest

from harness import WEB_REQUEST_DRIVER, run_tool, windows_path
from testservers import FileServer, faults as F

DATA = os.urandom(300_000)
DATA_SHA = hashlib.sha256(DATA).hexdigest()
EMPTY_SHA = hashlib.sha256(b"").hexdigest()
# How long past a limit a transfer may take to end on a busy, shared machine.
MARGIN_S = 4.0
# WinInet's answers to a server certificate it does not trust (Wine gives 12057 for a foreign CA).
CERTIFICATE_ERRORS = {12037, 12038, 12044, 12045, 12055, 12057, 12169, 12170, 12175}


def run_driver(*args, timeout=60):
    """Runs the driver once; returns its "key: value" lines as a dict ("header" lines as a list)."""
    done = run_tool(WEB_REQUEST_DRIVER, *args, timeout=timeout, encoding="latin-1")
    result = {"header": [], "exit": done.returncode, "wall_s": done.seconds, "stdout": done.output}
    for line in done.output.splitlines():
        key, _, value = line.rstrip("\r").partition(": ")
        if key == "header":
            result["header"].append(value)
        else:
            result[key] = value
    return result


def number(result, key):
    return int(result[key])


def assert_succeeded(result, length):
    assert result["exit"] == 0, result["stdout"]
    assert (result["got-response"], result["status"], result["succeeded"]) == ("1", "200", "1"), result["stdout"]
    assert (result["state"], result["detail"], result["failed"]) == ("3", "1", "0")
    assert number(result, "bytes-received") == length
    assert result["progress-final"] == "100"


@pytest.mark.parametrize("wait", ["poll", "stream"])
def test_body_to_memory_with_headers_and_certificate(scheme, make_server, wait):
    server = make_server({"/files/setup.bin": DATA})
    result = run_driver("--url", server.url("/files/setup.bin"), "--wait", wait)

    assert_succeeded(result, len(DATA))
    assert result["body-sha256"] == DATA_SHA
    assert number(result, "content-length") == len(DATA)
    assert number(result, "expected-total") == len(DATA)
    assert result["header"][0].startswith("HTTP/1.1 200")
    assert f"Content-Length: {len(DATA)}" in result["header"]
    assert result["status-text"] == "OK"
    if scheme == "https":
        assert "127.0.0.1" in result["certificate-subject"]
        assert "Orvane Test TLS CA" in result["certificate-issuer"]
        assert result["certificate-text"].startswith("Subject:")
    else:
        assert (result["certificate-subject"], result["certificate-text"]) == ("", "")

    record = server.log.last()
    assert (record.method, record.target) == ("GET", "/files/setup.bin")
    assert record.header("User-Agent") == "Mozilla/4.0 (compatible; MSIE 5.0; CDA 6.0)"
    assert record.header("Accept") == "*/*"


def test_body_to_file_is_appended(http_server, tmp_path):
    server = http_server({"/setup.bin": DATA})
    target = tmp_path / "setup.bin"
    target.write_bytes(b"earlier bytes")
    result = run_driver("--url", server.url("/setup.bin"), "--out", windows_path(target))

    assert_succeeded(result, len(DATA))
    assert target.read_bytes() == b"earlier bytes" + DATA
    assert "body-sha256" not in result


@pytest.mark.parametrize("target, detail", [("/dev/full", "10"), ("missing-folder/setup.bin", "8")],
                         ids=["disk-full", "cannot-open"])
def test_output_file_failures_have_their_detail(http_server, tmp_path, target, detail):
    server = http_server({"/setup.bin": DATA})
    path = target if target.startswith("/") else tmp_path / target
    result = run_driver("--url", server.url("/setup.bin"), "--out", windows_path(path))

    assert (result["got-response"], result["status"]) == ("1", "200"), result["stdout"]
    assert (result["succeeded"], result["failed"], result["state"], result["detail"]) == ("0", "1", "4", detail)
    if detail == "8":
        assert not path.parent.exists()


def test_address_is_sent_with_single_slashes_and_its_query(http_server):
    server = http_server({"/dir/file.bin": b"abc"})
    url = server.url("/").replace("http", "HTTP", 1) + "/dir//file.bin?x=1&y=a//b"
    result = run_driver("--url", url)

    assert_succeeded(result, 3)
    assert server.log.last().target == "/dir/file.bin?x=1&y=a//b"


def test_verb_body_and_headers_are_sent_as_set(http_server):
    server = http_server({"/collect": b"ok"})
    result = run_driver("--url", server.url("/collect"), "--verb", "POST", "--body", "a=1&b=2",
                        "--content-type", "application/x-www-form-urlencoded", "--header", "X-One: 1",
                        "--header", "X-Two: two", "--accept", "text/plain", "--user-agent", "Agent/1.0")

    assert result["got-response"] == "1"
    record = server.log.last()
    assert record.method == "POST"
    assert record.body == b"a=1&b=2"
    assert record.header("Content-Type") == "application/x-www-form-urlencoded"
    assert (record.header("X-One"), record.header("X-Two")) == ("1", "two")
    assert record.header("Accept") == "text/plain"
    assert record.header("User-Agent") == "Agent/1.0"


@pytest.mark.parametrize("fault, extra, expect", [
    # No Content-Length: the length is unknown (-1) to the caller even after the body has ended.
    (F.no_content_length(), [], {"succeeded": "1", "content-length": "-1", "bytes-received": len(DATA)}),
    (F.chunked(4096), [], {"succeeded": "1", "content-length": "-1", "bytes-received": len(DATA)}),
    # Too long for maxLength: refused from the announced length before any byte is read ...
    (None, ["--max-length", "1000"], {"succeeded": "0", "detail": "11", "failed": "1", "bytes-received": 0}),
    # ... or, without one, once more than the limit has arrived.
    (F.no_content_length(), ["--max-length", "100000"], {"succeeded": "0", "detail": "11", "failed": "1"}),
], ids=["missing", "chunked", "too-long-announced", "too-long-unannounced"])
def test_content_length_cases(http_server, fault, extra, expect):
    server = http_server({"/f.bin": DATA}, faults=[fault])
    result = run_driver("--url", server.url("/f.bin"), *extra)

    assert result["exit"] == 0 and result["got-response"] == "1", result["stdout"]
    for key, value in expect.items():
        assert result[key] == str(value), (key, result["stdout"])
    if result["succeeded"] == "1":
        assert result["body-sha256"] == DATA_SHA
    if expect.get("detail") == "11" and "bytes-received" not in expect:
        assert number(result, "bytes-received") > 100000
        assert number(result, "body-length") <= 100000


def test_zero_length_body(http_server):
    server = http_server({"/empty.bin": b""})
    result = run_driver("--url", server.url("/empty.bin"))

    assert_succeeded(result, 0)
    assert (result["content-length"], result["body-sha256"]) == ("0", EMPTY_SHA)


@pytest.mark.parametrize("fault, received", [(F.drop(1000), 1000), (F.lying_length(5000), len(DATA))],
                         ids=["dropped", "announced-more"])
def test_connection_closed_early_fails_with_what_arrived(http_server, fault, received):
    server = http_server({"/f.bin": DATA}, faults=[fault])
    result = run_driver("--url", server.url("/f.bin"))

    announced = len(DATA) + (5000 if received == len(DATA) else 0)
    assert (result["got-response"], result["succeeded"], result["failed"]) == ("1", "0", "1"), result["stdout"]
    assert (result["state"], result["detail"]) == ("4", "7")
    assert number(result, "content-length") == announced
    assert number(result, "bytes-received") == received == number(result, "body-length")
    assert f"after {received} of {announced} bytes" in result["failure-text"]


@pytest.mark.parametrize("fault, wait, expect", [
    # Silent after accepting: WinInet's time-out, derived from the stall limit, ends the request.
    (F.delay(), "poll", {"got-response": "0", "state": "4", "detail": "3", "failed": "0"}),
    # Stalled in the middle of the body: the read fails ...
    (F.stall(after=100_000), "poll", {"got-response": "1", "state": "4", "detail": "7", "failed": "1",
                                      "cancelled": "0"}),
    # ... or, with a caller waiting in GetResponseStream, the stall limit aborts it first.
    (F.stall(after=100_000), "stream", {"got-response": "1", "state": "4", "detail": "2", "failed": "1",
                                        "cancelled": "1"}),
], ids=["never-answers-poll", "stalls-mid-body-poll", "stalls-mid-body-wait"])
def test_silent_server_ends_within_the_stall_limit(http_server, fault, wait, expect):
    server = http_server({"/f.bin": DATA}, faults=[fault])
    stall_ms = 1000
    result = run_driver("--url", server.url("/f.bin"), "--stall-ms", str(stall_ms), "--wait", wait)

    assert result["exit"] == 0, result["stdout"]
    for key, value in expect.items():
        assert result[key] == value, (key, result["stdout"])
    assert result["succeeded"] == "0"
    elapsed_s = number(result, "elapsed-ms") / 1000
    assert stall_ms / 1000 - 0.1 <= elapsed_s <= stall_ms / 1000 + 1.0 + MARGIN_S, result["stdout"]
    assert number(result, "bytes-received") < len(DATA)


def test_total_time_limit_aborts_a_slow_transfer(http_server):
    server = http_server({"/f.bin": DATA}, rate=50_000)
    result = run_driver("--url", server.url("/f.bin"), "--total-ms", "1500", "--wait", "stream")

    assert (result["detail"], result["cancelled"], result["succeeded"]) == ("2", "1", "0"), result["stdout"]
    assert 1.4 <= number(result, "elapsed-ms") / 1000 <= 1.5 + 1.0 + MARGIN_S


@pytest.mark.parametrize("fault, path, status", [(F.error(500, b"server broke"), "/f.bin", 500),
                                                 (None, "/missing.bin", 404)], ids=["500", "404"])
def test_error_status_is_not_success_but_the_body_is_read(http_server, fault, path, status):
    server = http_server({"/f.bin": DATA}, faults=[fault])
    result = run_driver("--url", server.url(path))

    assert (result["got-response"], result["status"], result["succeeded"]) == ("1", str(status), "0"), result["stdout"]
    assert (result["state"], result["detail"], result["failed"]) == ("4", "3", "0")
    body = server.log.last()
    assert number(result, "body-length") == number(result, "content-length") == body.bytes_sent > 0
    if status == 500:
        assert result["body-sha256"] == hashlib.sha256(b"server broke").hexdigest()


def test_abort_from_another_thread_while_a_read_is_blocked(http_server):
    server = http_server({"/f.bin": DATA}, faults=[F.stall(after=100_000)])
    stall_ms = 1500
    result = run_driver("--url", server.url("/f.bin"), "--stall-ms", str(stall_ms), "--abort-after-ms", "700")

    assert (result["detail"], result["state"], result["cancelled"], result["failed"]) == ("2", "4", "1", "1"), \
        result["stdout"]
    assert result["succeeded"] == "0"
    assert 0 < number(result, "bytes-received") < len(DATA)
    # Under Wine the blocked read ends by the connection's time-out, never later.
    assert number(result, "abort-returned-after-ms") / 1000 <= stall_ms / 1000 + 1.0 + MARGIN_S
    assert number(result, "elapsed-ms") / 1000 <= stall_ms / 1000 + 1.0 + MARGIN_S


def test_destroying_a_running_request_ends_its_transfer(http_server):
    server = http_server({"/f.bin": DATA}, faults=[F.stall(after=100_000)])
    stall_ms = 1500
    result = run_driver("--url", server.url("/f.bin"), "--stall-ms", str(stall_ms), "--release-after-ms", "700")

    assert result["exit"] == 0, result["stdout"]
    assert result["complete-before-release"] == "0"
    # The destructor returns once the worker has ended: the process then exits on its own.
    assert number(result, "released-after-ms") / 1000 <= stall_ms / 1000 + 1.0 + MARGIN_S
    assert result["wall_s"] <= 0.7 + stall_ms / 1000 + 1.0 + MARGIN_S + 5


@pytest.mark.parametrize("fault, expect", [
    # Headers beyond the 64 KiB that the request reads: no response.
    (F.headers(*[(f"X-Filler-{i}", "h" * 700) for i in range(100)]), {"got-response": "0", "detail": "3"}),
    # Not HTTP at all: WinInet takes it for an HTTP/0.9 answer, which the request refuses.
    (F.raw(bytes(range(256)) * 16), {"got-response": "1", "detail": "12", "failed": "1"}),
    (F.content_length("-5"), {"got-response": "1", "detail": "12", "failed": "1"}),
    (F.content_length("12abc"), {"got-response": "1", "detail": "12", "failed": "1"}),
], ids=["64k-headers", "binary-garbage", "negative-length", "non-numeric-length"])
def test_bad_input_from_the_server_fails_the_request(http_server, fault, expect):
    server = http_server({"/f.bin": DATA}, faults=[fault])
    result = run_driver("--url", server.url("/f.bin"), "--stall-ms", "3000", timeout=30)

    assert result["exit"] == 0, result["stdout"]
    assert (result["state"], result["succeeded"]) == ("4", "0"), result["stdout"]
    for key, value in expect.items():
        assert result[key] == value, (key, result["stdout"])
    assert number(result, "elapsed-ms") < 3000 + 1000 + MARGIN_S * 1000


def test_server_certificate_from_another_ca_is_rejected(tls_pki):
    with FileServer({"/f.bin": DATA}, tls=tls_pki.other_server, lifetime=60) as server:
        result = run_driver("--url", server.url("/f.bin"))
        assert (result["got-response"], result["succeeded"], result["state"]) == ("0", "0", "4"), result["stdout"]
        assert number(result, "error") in CERTIFICATE_ERRORS
        assert number(result, "body-length") == 0
        # The TLS handshake failed: no request reached the server.
        assert all(record.status is None for record in server.log.records())
