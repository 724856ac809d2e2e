"""Loopback HTTP/HTTPS server base: binding, lifetime, request log, answer writer.

Every server binds 127.0.0.1 only, serves on a daemon thread from construction on,
and stops on `stop()`, on leaving its `with` block, or when its lifetime runs out,
so that no server outlives the test that started it.
"""

from __future__ import annotations

import contextlib
import copy
import dataclasses
import email.utils
import http.server
import itertools
import json
import math
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from dataclasses import dataclass, field
from typing import Any, Callable, Iterable, Iterator, List, Optional, Tuple

from .faults import NONE, Fault
from .tls import server_tls_context

HOST = "127.0.0.1"
DEFAULT_LIFETIME = 300.0  # seconds; generous for one test, short enough to never linger
_WRITE_PIECE = 1024 * 1024
_MAX_REQUEST_BODY = 64 * 1024 * 1024


# --- bodies ------------------------------------------------------------------

class Body:
    """Bytes to send, read piece by piece so that large files need not sit in memory."""

    size = 0

    @contextlib.contextmanager
    def reader(self) -> Iterator[Callable[[int, int], bytes]]:
        """A read(offset, count) function, valid inside the block."""
        raise NotImplementedError


class BytesBody(Body):
    def __init__(self, data: bytes):
        self._data = memoryview(bytes(data))
        self.size = len(self._data)

    @contextlib.contextmanager
    def reader(self):
        yield lambda offset, count: self._data[offset:offset + count]  # no copy


class FileBody(Body):
    def __init__(self, path, size: int):
        self._path = path
        self.size = size

    @contextlib.contextmanager
    def reader(self):
        with open(self._path, "rb") as f:
            def read(offset: int, count: int) -> bytes:
                f.seek(offset)
                return f.read(count)
            yield read


class SliceBody(Body):
    def __init__(self, base: Body, start: int, size: int):
        self._base, self._start, self.size = base, start, max(0, size)

    @contextlib.contextmanager
    def reader(self):
        with self._base.reader() as read:
            yield lambda offset, count: read(self._start + offset, min(count, self.size - offset))


def as_body(body: Any) -> Body:
    if isinstance(body, Body):
        return body
    if body is None:
        return BytesBody(b"")
    if isinstance(body, str):
        return BytesBody(body.encode("utf-8"))
    return BytesBody(bytes(body))


# --- the request log ------------------------------------------------------------

def split_query(query: str) -> List[Tuple[str, str]]:
    """Split a raw query at "&" and "=" keeping order, blanks and duplicates; no decoding."""
    if not query:
        return []
    pairs = []
    for item in query.split("&"):
        key, _, value = item.partition("=")
        pairs.append((key, value))
    return pairs


def _decode(text: str) -> str:
    # Percent-decoding only: "+" stays "+", since the clients escape per RFC 3986.
    return urllib.parse.unquote(text, encoding="utf-8", errors="replace")


@dataclass
class RequestRecord:
    """One request as received, and what was answered. Read snapshots from `RequestLog`."""

    id: int  # 1, 2, ... in arrival order
    connection: int  # ordinal of the TCP connection; equal numbers mean a reused connection
    client_port: int
    tls: bool
    method: str
    target: str  # the request target exactly as received
    path: str  # the target before "?" or "#", not decoded
    query: str  # raw text after "?" ("" when none)
    raw_params: List[Tuple[str, str]]  # query split at "&"/"=" in order, not decoded
    params: List[Tuple[str, str]]  # the same, percent-decoded as UTF-8
    headers: List[Tuple[str, str]]  # request headers in order
    version: str
    body: bytes
    range: Optional[str]  # the Range header as sent, None when absent
    started: float  # time.monotonic() at arrival
    wall_time: float  # time.time() at arrival
    status: Optional[int] = None  # status answered; None when no status line went out
    response_headers: List[Tuple[str, str]] = field(default_factory=list)
    body_offset: int = 0  # file offset of the first body byte sent (file server)
    bytes_sent: int = 0  # body bytes written
    fault: str = "no fault"  # the fault applied, as text
    complete: bool = False  # the whole answer went out
    finished: Optional[float] = None  # time.monotonic() when the answer ended
    error: Optional[str] = None  # what broke the exchange (client gone, server stopping...)

    def header(self, name: str, default: Optional[str] = None) -> Optional[str]:
        """First request header of that name, compared without case."""
        lowered = name.lower()
        for key, value in self.headers:
            if key.lower() == lowered:
                return value
        return default

    def response_header(self, name: str, default: Optional[str] = None) -> Optional[str]:
        lowered = name.lower()
        for key, value in self.response_headers:
            if key.lower() == lowered:
                return value
        return default

    def param(self, key: str, default: Optional[str] = None) -> Optional[str]:
        """First decoded value of a query key."""
        for k, v in self.params:
            if k == key:
                return v
        return default

    @property
    def keys(self) -> List[str]:
        """Decoded query keys in the order sent."""
        return [k for k, _ in self.params]

    @property
    def range_asked(self) -> Optional[Tuple[Optional[int], Optional[int]]]:
        """The Range asked as written: "bytes=a-b" (a, b); "bytes=a-" (a, None);
        "bytes=-n" (None, n). None when absent or not one plain byte range."""
        if self.range is None:
            return None
        text = self.range.strip()
        if not text.lower().startswith("bytes=") or "," in text:
            return None
        first, sep, last = text[6:].strip().partition("-")
        if not sep:
            return None
        first, last = first.strip(), last.strip()
        if (first and not first.isdigit()) or (last and not last.isdigit()) or not (first or last):
            return None
        return (int(first) if first else None, int(last) if last else None)

    @property
    def delivered(self) -> Tuple[int, int]:
        """File bytes that went out: [start, end) in file offsets."""
        return (self.body_offset, self.body_offset + self.bytes_sent)


class RequestLog:
    """Thread-safe list of `RequestRecord`; readers get copies."""

    def __init__(self):
        self._cond = threading.Condition()
        self._records: List[RequestRecord] = []
        self._ids = itertools.count(1)

    def _add(self, **fields: Any) -> RequestRecord:
        with self._cond:
            record = RequestRecord(id=next(self._ids), **fields)
            self._records.append(record)
            self._cond.notify_all()
            return record

    def _update(self, record: RequestRecord, **changes: Any) -> None:
        with self._cond:
            for key, value in changes.items():
                setattr(record, key, value)
            self._cond.notify_all()

    def records(self, where: Optional[Callable[[RequestRecord], bool]] = None) -> List[RequestRecord]:
        with self._cond:
            return [copy.copy(r) for r in self._records if where is None or where(r)]

    def __len__(self) -> int:
        with self._cond:
            return len(self._records)

    def __iter__(self):
        return iter(self.records())

    def __getitem__(self, index: int) -> RequestRecord:
        with self._cond:
            return copy.copy(self._records[index])

    def last(self) -> Optional[RequestRecord]:
        with self._cond:
            return copy.copy(self._records[-1]) if self._records else None

    def clear(self) -> None:
        with self._cond:
            self._records.clear()

    def wait(self, count: int = 1, timeout: float = 5.0,
             where: Optional[Callable[[RequestRecord], bool]] = None,
             finished: bool = False) -> List[RequestRecord]:
        """Wait until `count` records match (and, with `finished`, have ended their answer).

        Returns the matching records; raises TimeoutError listing the log otherwise.
        """
        def matching() -> List[RequestRecord]:
            return [r for r in self._records
                    if (where is None or where(r)) and (not finished or r.finished is not None)]

        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                found = matching()
                if len(found) >= count:
                    return [copy.copy(r) for r in found]
                left = deadline - time.monotonic()
                if left <= 0:
                    seen = "; ".join(f"#{r.id} {r.method} {r.target} -> {r.status}" for r in self._records)
                    raise TimeoutError(f"{len(found)} of {count} requests after {timeout} s; log: {seen or 'empty'}")
                self._cond.wait(left)


# --- the server ---------------------------------------------------------------------

class _HTTPServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True  # fixed ports are bound again by the next test at once
    request_queue_size = 64

    def __init__(self, owner: "LoopbackServer", port: int):
        self.owner = owner
        super().__init__((HOST, port), _Handler)

    def handle_error(self, request, client_address):  # socketserver hook; keeps stderr quiet
        self.owner._note_error(sys.exc_info()[1])


class LoopbackServer:
    """Base of every test server. Subclasses implement `respond(exchange, record)`.

    port: 0 for an ephemeral port, or the fixed port a program has compiled in.
    tls: None for HTTP; an ssl.SSLContext, a (cert_path, key_path) pair, or a pki `Cert`.
    lifetime: seconds after which the server stops by itself.
    rate: bytes per second for every body (a fault's rate wins), None for full speed.
    log_file: a path; each request is appended to it as one JSON line once answered
        (for test programs that are not Python).
    """

    def __init__(self, port: int = 0, *, tls: Any = None, lifetime: float = DEFAULT_LIFETIME,
                 rate: Optional[float] = None, log_file: Any = None):
        self.log = RequestLog()
        self._log_file = log_file
        self._log_file_lock = threading.Lock()
        self.rate = rate
        self.errors: List[str] = []  # connection-level failures, e.g. refused TLS handshakes
        self._tls = server_tls_context(tls) if tls is not None else None
        self._stopping = threading.Event()
        self._stop_lock = threading.Lock()
        self._stopped = False
        self._conns_lock = threading.Lock()
        self._conns: set = set()
        self._conn_ids = itertools.count(1)
        self._httpd = _HTTPServer(self, port)
        self.port: int = self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.05},
                                        name=f"{type(self).__name__}:{self.port}", daemon=True)
        self._thread.start()
        self._timer = threading.Timer(lifetime, self.stop)
        self._timer.daemon = True
        self._timer.start()

    # addresses
    host = HOST

    @property
    def scheme(self) -> str:
        return "https" if self._tls is not None else "http"

    @property
    def base_url(self) -> str:
        return f"{self.scheme}://{HOST}:{self.port}"

    def url(self, path: str = "/") -> str:
        return self.base_url + (path if path.startswith("/") else "/" + path)

    # lifetime
    @property
    def stopped(self) -> bool:
        return self._stopping.is_set()

    def stop(self) -> None:
        """Stop serving, end stalls and close every open connection. Idempotent."""
        with self._stop_lock:
            if self._stopped:
                return
            self._stopped = True
        self._stopping.set()
        self._timer.cancel()
        self._httpd.shutdown()
        self._httpd.server_close()
        with self._conns_lock:
            conns = list(self._conns)
        for conn in conns:
            try:
                socket.socket.shutdown(conn, socket.SHUT_RDWR)
            except OSError:
                pass
        self._thread.join(5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.base_url}{' stopped' if self.stopped else ''}>"

    # for subclasses
    def respond(self, exchange: "_Handler", record: RequestRecord) -> None:
        raise NotImplementedError

    # internals
    def _track(self, sock) -> None:
        with self._conns_lock:
            self._conns.add(sock)

    def _untrack(self, sock) -> None:
        with self._conns_lock:
            self._conns.discard(sock)

    def _append_to_log_file(self, record: RequestRecord) -> None:
        if self._log_file is None:
            return
        fields = dataclasses.asdict(record)
        fields["body"] = fields["body"].decode("latin-1")
        with self._log_file_lock, open(self._log_file, "a", encoding="utf-8") as out:
            out.write(json.dumps(fields) + "\n")

    def _note_error(self, exc: Optional[BaseException]) -> None:
        self.errors.append(repr(exc))

    def _sleep(self, seconds: float) -> bool:
        """Sleep unless the server stops first; True when it stopped."""
        if seconds <= 0:
            return self._stopping.is_set()
        return self._stopping.wait(None if math.isinf(seconds) else seconds)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, as the clients under test use it
    server_version = "LoopbackTestServer/1"
    sys_version = ""
    timeout = 30  # an idle keep-alive connection ends after this
    disable_nagle_algorithm = True

    server: _HTTPServer

    # connection set-up and tear-down
    def setup(self):
        self.owner: LoopbackServer = self.server.owner
        self.conn_id = next(self.owner._conn_ids)
        sock = self.request
        self.owner._track(sock)
        if self.owner._tls is not None:
            sock.settimeout(10)
            try:
                wrapped = self.owner._tls.wrap_socket(sock, server_side=True)
            finally:
                self.owner._untrack(sock)
            self.request = wrapped
            self.owner._track(wrapped)
        super().setup()

    def finish(self):
        try:
            super().finish()
        finally:
            self.owner._untrack(self.request)

    def log_message(self, format, *args):  # noqa: A002 - silence the default stderr log
        pass

    def parse_request(self):
        # Keep the target exactly as sent; a target holding blanks (an unescaped query
        # value) is still one request: escape the blanks for the parser only.
        line = str(self.raw_requestline, "iso-8859-1").rstrip("\r\n")
        parts = line.split(" ")
        self.raw_target = " ".join(parts[1:-1]) if len(parts) >= 3 else (parts[1] if len(parts) == 2 else "")
        if len(parts) > 3 and parts[-1].startswith("HTTP/"):
            fixed = f"{parts[0]} {self.raw_target.replace(' ', '%20')} {parts[-1]}\r\n"
            self.raw_requestline = fixed.encode("iso-8859-1")
        return super().parse_request()

    def _dispatch(self):
        body = b""
        length = self.headers.get("Content-Length")
        if length is not None and length.strip().isdigit():
            body = self.rfile.read(min(int(length), _MAX_REQUEST_BODY))
        if self.headers.get("Transfer-Encoding"):
            self.close_connection = True  # an unread request body would be taken for the next request
        target = self.raw_target
        path, _, rest = target.partition("?")
        path = path.partition("#")[0]
        query = rest.partition("#")[0]
        raw_params = split_query(query)
        record = self.owner.log._add(
            connection=self.conn_id, client_port=self.client_address[1], tls=self.owner._tls is not None,
            method=self.command, target=target, path=path, query=query, raw_params=raw_params,
            params=[(_decode(k), _decode(v)) for k, v in raw_params], headers=list(self.headers.items()),
            version=self.request_version, body=body, range=self.headers.get("Range"),
            started=time.monotonic(), wall_time=time.time())
        self._record = record
        try:
            self.owner.respond(self, record)
        except (OSError, ssl.SSLError) as exc:
            self.close_connection = True
            self.owner.log._update(record, error=repr(exc))
        except Exception as exc:  # a test's plan or answer callable failed: keep the reason
            self.close_connection = True
            self.owner.log._update(record, error=f"server error: {exc!r}")
            self.owner._note_error(exc)
        finally:
            if record.finished is None:
                self.owner.log._update(record, finished=time.monotonic())
            self.owner._append_to_log_file(copy.copy(record))

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = _dispatch

    # answering
    def answer(self, record: RequestRecord, status: int, body: Any = b"", *,
               headers: Iterable[Tuple[str, str]] = (), fault: Fault = NONE,
               content_type: Optional[str] = "application/octet-stream", body_offset: int = 0) -> None:
        """Write one answer, departing from a correct one as `fault` says."""
        log = self.owner.log
        log._update(record, fault=str(fault))
        if fault.hangup:
            self._drop_connection(record, "hung up without answering")
            return
        if fault.raw is not None:
            self.close_connection = True
            self.wfile.write(fault.raw)
            log._update(record, complete=True)
            return
        if fault.delay and self.owner._sleep(fault.delay):
            self._drop_connection(record, "server stopped while delaying the answer")
            return
        headers = list(headers)
        if fault.status is not None:
            status, body_offset, content_type = fault.status, 0, "text/plain"
            body = fault.body if fault.body is not None else f"injected status {fault.status}\n".encode()
            headers = []
        body = as_body(body)
        bodiless = status in (204, 304) or 100 <= status < 200
        sent_headers: List[Tuple[str, str]] = []
        if content_type and not bodiless:
            sent_headers.append(("Content-Type", content_type))
        sent_headers += headers
        if fault.chunked and not bodiless:
            sent_headers.append(("Transfer-Encoding", "chunked"))
        elif fault.length_text is not None:
            sent_headers.append(("Content-Length", fault.length_text))
        elif not (fault.omit_length or bodiless):
            sent_headers.append(("Content-Length", str(body.size + fault.length_delta)))
        sent_headers += list(fault.headers)
        if fault.breaks_framing:
            self.close_connection = True
        if self.close_connection:
            sent_headers.append(("Connection", "close"))
        self.send_response(status)
        for key, value in sent_headers:
            self.send_header(key, value)
        self.end_headers()
        log._update(record, status=status, response_headers=sent_headers, body_offset=body_offset)
        if self.command == "HEAD" or bodiless:
            log._update(record, complete=True)
            return
        self._write_body(record, body, fault)

    def _write_body(self, record: RequestRecord, body: Body, fault: Fault) -> None:
        with body.reader() as read:
            self._write_pieces(record, read, body.size, fault)

    def _write_pieces(self, record: RequestRecord, read: Callable[[int, int], bytes], size: int,
                      fault: Fault) -> None:
        log = self.owner.log
        rate = fault.rate or self.owner.rate
        limit = size if fault.drop_after is None else min(size, fault.drop_after)
        stall_at = fault.stall_after
        piece = _WRITE_PIECE
        if fault.chunked:
            piece = min(piece, fault.chunked)
        if rate:
            piece = max(1, min(piece, int(rate / 20)))  # ~20 writes a second keep the pace even
        started = time.monotonic()
        pos = 0
        while True:
            if stall_at is not None and pos == stall_at:
                stall_at = None
                if self.owner._sleep(fault.stall_for):
                    self._drop_connection(record, "server stopped during a stall")
                    return
            if pos >= limit:
                break
            count = min(piece, limit - pos)
            if stall_at is not None and pos < stall_at:
                count = min(count, stall_at - pos)
            data = read(pos, count)
            if not data:
                self._drop_connection(record, f"content ended at {pos} of {size} bytes")
                return
            if fault.chunked:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(data), bytes(data)))
            else:
                self.wfile.write(data)
            pos += len(data)
            log._update(record, bytes_sent=pos)
            if rate:
                ahead = pos / rate - (time.monotonic() - started)
                if ahead > 0 and self.owner._sleep(ahead):
                    self._drop_connection(record, "server stopped while throttling")
                    return
        if fault.drop_after is not None:
            self._drop_connection(record, f"dropped after {pos} body bytes")
            return
        if fault.chunked:
            self.wfile.write(b"0\r\n\r\n")
        log._update(record, complete=True)

    def _drop_connection(self, record: RequestRecord, why: str) -> None:
        self.close_connection = True
        self.owner.log._update(record, error=why)
        try:
            socket.socket.shutdown(self.request, socket.SHUT_RDWR)
        except OSError:
            pass


def http_date(timestamp: float) -> str:
    return email.utils.formatdate(timestamp, usegmt=True)
