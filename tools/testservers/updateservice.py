"""The update service: answers "GET /v1/client-updates/" from a per-test plan."""

from __future__ import annotations

import json
import math
import threading
from dataclasses import dataclass
from typing import Any, Callable, List, Optional

from .base import DEFAULT_LIFETIME, LoopbackServer, RequestRecord
from .faults import NONE, Fault

QUERY_PATH = "/v1/client-updates/"


@dataclass(frozen=True)
class Answer:
    """One answer of the service.

    body: a dict or list (sent as JSON), str (sent as UTF-8, any text, broken JSON too) or bytes.
    delay: seconds before the status line; math.inf never answers until the server stops.
    content_length: None announces the true length; an int announces that number
        (a lie when it differs); "omit" sends no Content-Length.
    chunked: chunked transfer encoding (and no Content-Length).
    fault: any further fault (drop mid-body, stall mid-body, raw bytes...).
    """

    body: Any = "{}"
    status: int = 200
    headers: tuple = ()
    delay: float = 0.0
    content_length: Any = None
    chunked: bool = False
    content_type: Optional[str] = "application/json"
    fault: Optional[Fault] = None

    @classmethod
    def never(cls) -> "Answer":
        """Accept the request and never answer (until the server stops)."""
        return cls(delay=math.inf)

    @classmethod
    def offer(cls, url: str, hash: str, size: Any, version: str = "1.0.0.0", *,
              extra: Optional[dict] = None, **options: Any) -> "Answer":
        """The usual answer offering an installer; `extra` adds body keys, `options`
        are further Answer fields (status, headers, delay...)."""
        return cls(body={"url": url, "hash": hash, "size": size, "version": version, **(extra or {})}, **options)

    def body_bytes(self) -> bytes:
        if isinstance(self.body, (dict, list)):
            return json.dumps(self.body).encode("utf-8")
        if isinstance(self.body, str):
            return self.body.encode("utf-8")
        return bytes(self.body)

    def as_fault(self) -> Fault:
        fault = Fault(delay=self.delay, headers=tuple(tuple(h) for h in self.headers))
        if self.chunked:
            fault += Fault(chunked=1024)
        elif self.content_length == "omit":
            fault += Fault(omit_length=True)
        elif self.content_length is not None:
            fault += Fault(length_text=str(self.content_length))
        return fault + (self.fault or NONE)


def _as_answer(item: Any) -> Answer:
    if isinstance(item, Answer):
        return item
    if item is None:
        return Answer()
    return Answer(body=item)


class UpdateService(LoopbackServer):
    """Answers the update query; every other path gets 404.

    answers: one answer for every query (Answer, dict, str or bytes); a list consumed
    one per query, after which `default` answers; or a callable(record) -> answer.
    """

    def __init__(self, answers: Any = None, *, port: int = 0, tls: Any = None, default: Any = None,
                 lifetime: float = DEFAULT_LIFETIME, log_file: Any = None):
        self._plan_lock = threading.Lock()
        self.set_answers(answers, default=default)
        super().__init__(port, tls=tls, lifetime=lifetime, log_file=log_file)

    def set_answers(self, answers: Any, *, default: Any = None) -> None:
        with self._plan_lock:
            self._default = _as_answer(default)
            self._rule: Optional[Callable[[RequestRecord], Any]] = None
            self._queue: List[Answer] = []
            if isinstance(answers, (list, tuple)):
                self._queue = [_as_answer(a) for a in answers]
            elif callable(answers) and not isinstance(answers, Answer):
                self._rule = answers
            elif answers is not None:
                self._default = _as_answer(answers)

    @property
    def queries(self) -> List[RequestRecord]:
        """The update queries received, in order."""
        return self.log.records(lambda r: r.path == QUERY_PATH)

    def wait_for_queries(self, count: int = 1, timeout: float = 10.0) -> List[RequestRecord]:
        return self.log.wait(count, timeout, where=lambda r: r.path == QUERY_PATH)

    def _next_answer(self, record: RequestRecord) -> Answer:
        with self._plan_lock:
            if self._rule is not None:
                rule = self._rule
            elif self._queue:
                return self._queue.pop(0)
            else:
                return self._default
        return _as_answer(rule(record))

    def respond(self, exchange, record) -> None:
        if record.path != QUERY_PATH:
            exchange.answer(record, 404, b"not found\n", content_type="text/plain")
            return
        answer = self._next_answer(record)
        exchange.answer(record, answer.status, answer.body_bytes(), fault=answer.as_fault(),
                        content_type=answer.content_type)
