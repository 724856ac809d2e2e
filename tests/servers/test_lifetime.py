"""Every server binds 127.0.0.1 only, on a free or a fixed port, and stops by itself."""

import socket
import time

import pytest

from .wire import exchange
from testservers import CrlServer, FileServer, Ga4Sink, UpdateService
from testservers import faults as F


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("make", [
    lambda folder, **kw: FileServer({}, **kw),
    lambda folder, **kw: UpdateService(**kw),
    lambda folder, **kw: Ga4Sink(**kw),
    lambda folder, **kw: CrlServer(folder, **kw),
], ids=["file", "update", "sink", "crl"])
def test_binds_loopback_only_on_ephemeral_or_fixed_port(make, tmp_path):
    with make(tmp_path, lifetime=30) as ephemeral:
        assert ephemeral._httpd.socket.getsockname()[0] == "127.0.0.1"
        assert ephemeral.port > 0
    fixed = free_port()
    with make(tmp_path, port=fixed, lifetime=30) as pinned:
        assert pinned._httpd.socket.getsockname() == ("127.0.0.1", fixed)
        assert pinned.url("/x") == f"http://127.0.0.1:{fixed}/x"


def test_fixed_port_can_be_bound_again_right_after_a_stop():
    port = free_port()
    for _ in range(3):
        with FileServer({"/a": b"x"}, port=port, lifetime=30) as srv:
            assert exchange(srv.port, "/a").body == b"x"


def test_stop_refuses_new_connections_and_is_idempotent():
    srv = FileServer({"/a": b"x"}, lifetime=30)
    srv.stop()
    srv.stop()
    assert srv.stopped
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", srv.port), timeout=2)


def test_lifetime_limit_stops_the_server_and_its_stalls():
    srv = FileServer({"/a": b"x" * 100}, faults=[F.stall(after=10)], lifetime=0.5)
    got = exchange(srv.port, "/a", timeout=5)
    assert srv.stopped
    assert got.closed and got.body == b"x" * 10 and got.elapsed < 3


def test_stop_closes_idle_keep_alive_connections():
    srv = FileServer({"/a": b"x"}, lifetime=30)
    sock = socket.create_connection(("127.0.0.1", srv.port), timeout=5)
    sock.sendall(b"GET /a HTTP/1.1\r\nHost: h\r\n\r\n")
    time.sleep(0.2)
    assert sock.recv(65536).endswith(b"\r\n\r\nx")
    started = time.monotonic()
    srv.stop()
    assert sock.recv(65536) == b""  # closed by the stop, not by the 30 s idle limit
    assert time.monotonic() - started < 3
    sock.close()
