"""GA4 collection sink: records every "/g/collect" hit; can fail or stall on request."""

from __future__ import annotations

import collections
import math
import threading
from typing import Any, List

from .base import DEFAULT_LIFETIME, LoopbackServer, RequestRecord
from .faults import NONE, Fault, error, stall

COLLECT_PATH = "/g/collect"


class Ga4Sink(LoopbackServer):
    """Answers each hit with `status` (204, as the real endpoint does) unless told otherwise.

    A hit is the `RequestRecord` of a "/g/collect" request: `params` holds the decoded
    query parameters in order, `query` the raw query text. Hits that were answered
    with an error or stalled are recorded too (their `status` tells what they got).
    """

    def __init__(self, *, tls: Any = None, port: int = 0, status: int = 204,
                 lifetime: float = DEFAULT_LIFETIME, log_file: Any = None):
        self.status = status
        self._faults_lock = threading.Lock()
        self._faults: collections.deque = collections.deque()
        super().__init__(port, tls=tls, lifetime=lifetime, log_file=log_file)

    # what the next hits get
    def fault_next(self, count: int, fault: Fault) -> None:
        """Apply `fault` to the next `count` hits (after those already planned)."""
        with self._faults_lock:
            self._faults.extend([fault] * count)

    def fail_next(self, count: int = 1, status: int = 503) -> None:
        self.fault_next(count, error(status))

    def stall_next(self, count: int = 1, seconds: float = math.inf) -> None:
        """Hold the next hits without answering for `seconds` (default: until stopped)."""
        self.fault_next(count, stall(seconds))

    def clear_faults(self) -> None:
        with self._faults_lock:
            self._faults.clear()

    # what arrived
    @property
    def hits(self) -> List[RequestRecord]:
        return self.log.records(lambda r: r.path == COLLECT_PATH)

    def wait_for_hits(self, count: int = 1, timeout: float = 10.0) -> List[RequestRecord]:
        return self.log.wait(count, timeout, where=lambda r: r.path == COLLECT_PATH)

    def respond(self, exchange, record) -> None:
        if record.path != COLLECT_PATH:
            exchange.answer(record, 404, b"not found\n", content_type="text/plain")
            return
        with self._faults_lock:
            fault = self._faults.popleft() if self._faults else NONE
        exchange.answer(record, self.status, b"", fault=fault, content_type=None)
