"""File server with single byte ranges, HEAD, and per-request fault injection."""

from __future__ import annotations

import os
import threading
import urllib.parse
from pathlib import Path
from typing import Any, Dict, Mapping, Optional, Tuple, Union

from .base import DEFAULT_LIFETIME, BytesBody, FileBody, LoopbackServer, SliceBody, http_date
from .faults import Fault, FaultPlan

UNSATISFIABLE = "unsatisfiable"

_CONTENT_TYPES = {
    ".crl": "application/pkix-crl",
    ".crt": "application/pkix-cert",
    ".cer": "application/pkix-cert",
    ".der": "application/pkix-cert",
    ".json": "application/json",
    ".txt": "text/plain",
}

# Blobs get a fixed, deterministic Last-Modified that moves one minute per change.
_BLOB_EPOCH = 1_700_000_000


def parse_range(header: str, size: int) -> Union[None, str, Tuple[int, int]]:
    """Resolve one Range header against a file of `size` bytes.

    Returns (first, last) inclusive; UNSATISFIABLE (answer 416); or None when the
    header is to be ignored (not "bytes=", malformed, or several ranges: answer 200).
    """
    text = header.strip()
    if not text.lower().startswith("bytes="):
        return None
    asked = text[6:].strip()
    if "," in asked:
        return None
    first, sep, last = asked.partition("-")
    first, last = first.strip(), last.strip()
    if not sep or (first and not first.isdigit()) or (last and not last.isdigit()):
        return None
    if not first:
        if not last:
            return None
        count = int(last)
        if count == 0 or size == 0:
            return UNSATISFIABLE
        return (max(0, size - count), size - 1)
    start = int(first)
    end = int(last) if last else size - 1
    if last and end < start:
        return None
    if start >= size:
        return UNSATISFIABLE
    return (start, min(end, size - 1))


def _key(name: str) -> str:
    return name if name.startswith("/") else "/" + name


class FileServer(LoopbackServer):
    """Serves named byte blobs and/or the files of a folder.

    files: {"/name.bin": bytes}; a blob wins over a file of the same name in `root`.
    ranges: False answers every request with 200 and the whole body
        (and "Accept-Ranges: none").
    faults: anything `FaultPlan.of` takes (list, Fault, callable, {path: ...}, FaultPlan).
    content_type: for every answer; by default from the name's suffix.
    """

    def __init__(self, files: Optional[Mapping[str, bytes]] = None, *, root: Any = None, port: int = 0,
                 tls: Any = None, ranges: bool = True, faults: Any = None, rate: Optional[float] = None,
                 content_type: Optional[str] = None, lifetime: float = DEFAULT_LIFETIME, log_file: Any = None):
        self._files_lock = threading.Lock()
        self._files: Dict[str, Tuple[bytes, int]] = {}
        for name, data in (files or {}).items():
            self.set_file(name, data)
        self.root = Path(root) if root is not None else None
        self.ranges = ranges
        self.plan = FaultPlan.of(faults)
        self.content_type = content_type
        super().__init__(port, tls=tls, lifetime=lifetime, rate=rate, log_file=log_file)

    # content
    def set_file(self, name: str, data: bytes) -> None:
        """Add or replace a blob; a replacement gets a later Last-Modified."""
        with self._files_lock:
            version = self._files[_key(name)][1] + 1 if _key(name) in self._files else 0
            self._files[_key(name)] = (bytes(data), version)

    def remove_file(self, name: str) -> None:
        with self._files_lock:
            self._files.pop(_key(name), None)

    def content(self, name: str) -> Optional[bytes]:
        """The bytes currently served under `name`, None when there are none."""
        found = self._lookup(_key(name))
        if found is None:
            return None
        body, _ = found
        with body.reader() as read:
            return bytes(read(0, body.size))

    def set_faults(self, plan: Any) -> FaultPlan:
        self.plan = FaultPlan.of(plan)
        return self.plan

    # serving
    def _folder_file(self, path: str) -> Optional[Path]:
        if self.root is None:
            return None
        parts = [p for p in path.split("/") if p]
        if not parts or any(p in (".", "..") or "\\" in p for p in parts):
            return None
        candidate = self.root.joinpath(*parts)
        return candidate if candidate.is_file() else None

    def _lookup(self, path: str):
        with self._files_lock:
            blob = self._files.get(path)
        if blob is not None:
            data, version = blob
            return BytesBody(data), http_date(_BLOB_EPOCH + 60 * version)
        found = self._folder_file(path)
        if found is None:
            return None
        stat = found.stat()
        return FileBody(found, stat.st_size), http_date(stat.st_mtime)

    def _change(self, path: str, new: Any) -> None:
        if callable(new):
            current = self.content(path)
            new = new(current if current is not None else b"")
        self.set_file(path, new)

    def _content_type(self, path: str) -> str:
        if self.content_type:
            return self.content_type
        return _CONTENT_TYPES.get(os.path.splitext(path)[1].lower(), "application/octet-stream")

    def respond(self, exchange, record) -> None:
        fault: Fault = self.plan.next(record)
        path = urllib.parse.unquote(record.path)
        if fault.new_content is not None:
            self._change(path, fault.new_content)
        if record.method not in ("GET", "HEAD"):
            exchange.answer(record, 405, b"method not allowed\n", headers=[("Allow", "GET, HEAD")],
                            fault=fault, content_type="text/plain")
            return
        found = self._lookup(path)
        if found is None:
            exchange.answer(record, 404, b"not found\n", fault=fault, content_type="text/plain")
            return
        body, last_modified = found
        size = body.size
        ranges = self.ranges and not fault.no_ranges
        headers = [("Last-Modified", last_modified), ("Accept-Ranges", "bytes" if ranges else "none")]
        status, first, last = 200, 0, size - 1
        if ranges and record.range is not None and not fault.ignore_range:
            asked = parse_range(record.range, size)
            if asked == UNSATISFIABLE:
                headers.append(("Content-Range", f"bytes */{size}"))
                exchange.answer(record, 416, b"", headers=headers, fault=fault, content_type=None)
                return
            if asked is not None:
                status, (first, last) = 206, asked
        lies = fault.content_range is not None or fault.content_range_shift or fault.content_range_total is not None
        if status == 206 or lies:
            shift = fault.content_range_shift
            total = size if fault.content_range_total is None else fault.content_range_total
            text = fault.content_range or f"bytes {first + shift}-{last + shift}/{total}"
            headers.append(("Content-Range", text))
        exchange.answer(record, status, SliceBody(body, first, last - first + 1), headers=headers,
                        fault=fault, content_type=self._content_type(path), body_offset=first)


class CrlServer(FileServer):
    """The file server over a folder of CRLs (served as application/pkix-crl)."""

    def __init__(self, root: Any, *, port: int = 0, lifetime: float = DEFAULT_LIFETIME, faults: Any = None,
                 log_file: Any = None):
        super().__init__(root=root, port=port, lifetime=lifetime, faults=faults, log_file=log_file)
