"""The file server without faults: ranges, HEAD, 404, folders, the request log."""

import http.client
import socket

import pytest

from .wire import exchange
from testservers import FileServer, parse_range, UNSATISFIABLE

DATA = bytes(range(256)) * 40  # 10240 bytes


@pytest.fixture
def server():
    with FileServer({"/data.bin": DATA, "empty.bin": b""}, lifetime=30) as srv:
        yield srv


@pytest.mark.parametrize("range_header, status, first, last", [
    ("bytes=0-99", 206, 0, 99),
    ("bytes=100-", 206, 100, 10239),
    ("bytes=-100", 206, 10140, 10239),
    ("bytes=-20000", 206, 0, 10239),  # a suffix longer than the file is the whole file
    ("bytes=10000-20000", 206, 10000, 10239),  # the end is clamped
    ("bytes=10239-10239", 206, 10239, 10239),
    ("bytes=0-9,20-29", 200, 0, 10239),  # several ranges: whole body
    ("bytes=50-10", 200, 0, 10239),  # last before first: ignored
    ("items=0-9", 200, 0, 10239),
])
def test_range_answers(server, range_header, status, first, last):
    got = exchange(server.port, "/data.bin", headers=[("Range", range_header)])
    assert got.status == status
    assert got.body == DATA[first:last + 1]
    assert got.header("Content-Length") == str(last - first + 1)
    if status == 206:
        assert got.header("Content-Range") == f"bytes {first}-{last}/{len(DATA)}"
    else:
        assert got.header("Content-Range") is None


@pytest.mark.parametrize("range_header", ["bytes=10240-", "bytes=20000-20010", "bytes=-0"])
def test_unsatisfiable_range_is_416_with_size(server, range_header):
    got = exchange(server.port, "/data.bin", headers=[("Range", range_header)])
    assert got.status == 416
    assert got.header("Content-Range") == "bytes */10240"
    assert got.body == b""


def test_parse_range_of_empty_file_is_unsatisfiable():
    assert parse_range("bytes=0-", 0) == UNSATISFIABLE
    assert parse_range("bytes=-5", 0) == UNSATISFIABLE


def test_head_sends_headers_only(server):
    got = exchange(server.port, "/data.bin", method="HEAD", headers=[("Range", "bytes=5-9")])
    assert got.status == 206
    assert got.header("Content-Length") == "5"
    assert got.body == b""
    assert server.log.last().bytes_sent == 0


def test_missing_file_is_404_and_empty_file_is_200(server):
    assert exchange(server.port, "/nothing.bin").status == 404
    got = exchange(server.port, "/empty.bin")
    assert (got.status, got.header("Content-Length"), got.body) == (200, "0", b"")


def test_no_ranges_mode_answers_whole_body():
    with FileServer({"/a": DATA}, ranges=False, lifetime=30) as srv:
        got = exchange(srv.port, "/a", headers=[("Range", "bytes=0-9")])
    assert got.status == 200
    assert got.body == DATA
    assert got.header("Accept-Ranges") == "none"


def test_serves_a_folder_and_refuses_to_leave_it(tmp_path):
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "f.txt").write_bytes(b"in folder")
    (tmp_path.parent / "outside.txt").write_bytes(b"secret")
    with FileServer(root=tmp_path, lifetime=30) as srv:
        got = exchange(srv.port, "/sub/f.txt")
        assert (got.status, got.body, got.header("Content-Type")) == (200, b"in folder", "text/plain")
        assert exchange(srv.port, "/../outside.txt").status == 404
        assert exchange(srv.port, "/sub/%2e%2e/%2e%2e/outside.txt").status == 404


def test_replacing_a_blob_changes_content_and_last_modified(server):
    before = exchange(server.port, "/data.bin")
    server.set_file("/data.bin", b"new content")
    after = exchange(server.port, "/data.bin")
    assert after.body == b"new content"
    assert before.header("Last-Modified") != after.header("Last-Modified")


def test_log_records_request_and_answer(server):
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=5)
    conn.putrequest("GET", "/data.bin?b=2&a=%41%20x&b=&flag", skip_host=True, skip_accept_encoding=True)
    conn.putheader("Host", "127.0.0.1")
    conn.putheader("Range", "bytes=100-199")
    conn.putheader("X-Second", "two")
    conn.putheader("X-First", "one")
    conn.endheaders()
    response = conn.getresponse()
    assert response.read() == DATA[100:200]
    conn.request("GET", "/data.bin")  # same connection, kept alive
    conn.getresponse().read()
    conn.close()

    first, second = server.log.wait(2, finished=True)
    assert (first.method, first.path, first.query) == ("GET", "/data.bin", "b=2&a=%41%20x&b=&flag")
    assert first.raw_params == [("b", "2"), ("a", "%41%20x"), ("b", ""), ("flag", "")]
    assert first.params == [("b", "2"), ("a", "A x"), ("b", ""), ("flag", "")]
    assert first.keys == ["b", "a", "b", "flag"]
    assert [k for k, _ in first.headers] == ["Host", "Range", "X-Second", "X-First"]
    assert first.range == "bytes=100-199" and first.range_asked == (100, 199)
    assert (first.status, first.bytes_sent, first.body_offset, first.complete) == (206, 100, 100, True)
    assert first.delivered == (100, 200)
    assert first.response_header("Content-Range") == "bytes 100-199/10240"
    assert second.connection == first.connection  # keep-alive reuse is visible
    assert second.range is None and second.status == 200


@pytest.mark.parametrize("header, asked", [
    ("bytes=5-", (5, None)), ("bytes=-7", (None, 7)), ("bytes=1-2,4-5", None), ("pages=1-2", None),
])
def test_log_reads_the_range_as_written(server, header, asked):
    exchange(server.port, "/data.bin", headers=[("Range", header)])
    record = server.log.wait(1)[0]
    assert (record.range, record.range_asked) == (header, asked)


def test_target_with_blanks_is_logged_as_sent(server):
    sock = socket.create_connection(("127.0.0.1", server.port), timeout=5)
    sock.sendall(b"GET /data.bin?name=A B&x=1 HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n")
    while sock.recv(65536):
        pass
    sock.close()
    record = server.log.wait(1)[0]
    assert record.target == "/data.bin?name=A B&x=1"
    assert record.params == [("name", "A B"), ("x", "1")]
