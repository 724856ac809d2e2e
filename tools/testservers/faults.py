"""What a test server does wrong, request by request.

A `Fault` describes how one answer departs from a correct one. Faults are
built with the small functions below and combined with `+`:

    from testservers import faults as F
    plan = [F.drop(1000), None, F.stall(2, after=65536) + F.throttle(100_000)]

A `FaultPlan` decides which fault each request gets: a list consumed request by
request, a callable, per-path rules, or a seeded random draw.
"""

from __future__ import annotations

import dataclasses
import math
import random
import threading
from dataclasses import dataclass
from typing import Any, Callable, Iterable, Mapping, Optional, Sequence, Union

Content = Union[bytes, Callable[[bytes], bytes]]


@dataclass(frozen=True)
class Fault:
    """How one answer goes wrong. The default instance is a correct answer."""

    hangup: bool = False  # close the connection without answering anything
    raw: Optional[bytes] = None  # send these bytes instead of a response, then close
    delay: float = 0.0  # seconds before the status line (math.inf: until the server stops)
    status: Optional[int] = None  # answer this status (with `body`) instead
    body: Optional[bytes] = None  # body sent with `status`
    ignore_range: bool = False  # 200 with the whole body where 206 was due
    no_ranges: bool = False  # answer as a server without ranges: 200 and Accept-Ranges: none
    content_range: Optional[str] = None  # this Content-Range text instead of the true one
    content_range_shift: int = 0  # or the true one with first and last byte moved by this
    content_range_total: Optional[int] = None  # or the true one with this total size
    new_content: Optional[Content] = None  # the file's content from this request on
    omit_length: bool = False  # no Content-Length (the body ends when the connection closes)
    length_delta: int = 0  # announce the true length plus this
    length_text: Optional[str] = None  # announce this Content-Length text verbatim
    chunked: int = 0  # chunked transfer encoding with chunks of this size
    drop_after: Optional[int] = None  # close the connection after this many body bytes
    stall_after: Optional[int] = None  # stall after this many body bytes ...
    stall_for: float = 0.0  # ... for this many seconds (math.inf: until the server stops)
    rate: Optional[float] = None  # send the body at this many bytes per second
    headers: tuple = ()  # extra (name, value) response headers
    close: bool = False  # close the connection after this answer

    def __add__(self, other: Optional["Fault"]) -> "Fault":
        """Combine two faults; fields set in `other` win, headers add up."""
        if other is None:
            return self
        if not isinstance(other, Fault):
            return NotImplemented
        changes = {}
        for f in dataclasses.fields(Fault):
            value = getattr(other, f.name)
            if f.name == "headers":
                changes["headers"] = tuple(self.headers) + tuple(other.headers)
            elif value != f.default:
                changes[f.name] = value
        return dataclasses.replace(self, **changes)

    __radd__ = __add__

    @property
    def breaks_framing(self) -> bool:
        """The answer leaves the connection in a state that cannot carry another one."""
        return bool(
            self.hangup or self.raw is not None or self.omit_length or self.length_delta
            or self.length_text is not None or self.drop_after is not None or self.close
        )

    def __bool__(self) -> bool:
        return self != NONE

    def __str__(self) -> str:
        parts = []
        for f in dataclasses.fields(Fault):
            value = getattr(self, f.name)
            if value == f.default:
                continue
            if f.name in ("raw", "body") and value is not None:
                value = f"<{len(value)} bytes>"
            elif f.name == "new_content" and value is not None:
                value = f"<{len(value)} bytes>" if isinstance(value, (bytes, bytearray)) else "<function>"
            elif f.name == "headers":
                value = ", ".join(f"{k}: {v[:40]}" for k, v in value)
            parts.append(f"{f.name}={value}")
        return "Fault(" + ", ".join(parts) + ")" if parts else "no fault"


NONE = Fault()


# --- building blocks -------------------------------------------------------

def hangup() -> Fault:
    """Accept the request, then close without a byte of answer."""
    return Fault(hangup=True)


def raw(data: bytes) -> Fault:
    """Send `data` in place of a response (garbage status line, 64 KiB headers...)."""
    return Fault(raw=bytes(data))


def delay(seconds: float = math.inf) -> Fault:
    """Wait before the status line; the default waits until the server stops."""
    return Fault(delay=seconds)


def stall(seconds: float = math.inf, after: Optional[int] = None) -> Fault:
    """Stall before the headers, or after `after` body bytes when given."""
    if after is None:
        return Fault(delay=seconds)
    return Fault(stall_after=after, stall_for=seconds)


def error(status: int = 503, body: Optional[bytes] = None) -> Fault:
    """Answer `status` (a 5xx by default) with a short body instead of the content."""
    return Fault(status=status, body=body)


def ignore_range() -> Fault:
    """Answer 200 with the whole body although a range was asked."""
    return Fault(ignore_range=True)


def no_ranges() -> Fault:
    """Answer as a server that does not serve ranges: 200 with the whole body and Accept-Ranges: none."""
    return Fault(ignore_range=True, no_ranges=True)


def wrong_content_range(text: Optional[str] = None, *, shift: int = 0,
                        total: Optional[int] = None) -> Fault:
    """Send a Content-Range that does not describe the body.

    `text` replaces the header; otherwise the true range is moved by `shift`
    bytes and/or given the total `total`. With no argument the range is moved by 1.
    """
    if text is None and not shift and total is None:
        shift = 1
    return Fault(content_range=text, content_range_shift=shift, content_range_total=total)


def change_content(new: Content) -> Fault:
    """Replace the file (bytes, or a function of the old bytes) before answering."""
    return Fault(new_content=new)


def no_content_length() -> Fault:
    """Omit Content-Length; the body ends when the connection closes."""
    return Fault(omit_length=True)


def lying_length(delta: int) -> Fault:
    """Announce the true length plus `delta` (positive: too large, negative: too small)."""
    return Fault(length_delta=delta)


def content_length(text: str) -> Fault:
    """Send this Content-Length text verbatim ("-5", "abc", "")."""
    return Fault(length_text=str(text))


def chunked(size: int = 8192) -> Fault:
    """Chunked transfer encoding (no Content-Length), chunks of `size` bytes."""
    return Fault(chunked=max(1, int(size)))


def drop(after: int = 0) -> Fault:
    """Close the connection after `after` body bytes (headers are sent complete)."""
    return Fault(drop_after=int(after))


def throttle(rate: float) -> Fault:
    """Send the body at `rate` bytes per second."""
    return Fault(rate=float(rate))


def headers(*pairs: tuple, **named: str) -> Fault:
    """Add response headers: headers(("X-A", "1")) or headers(X_A="1") (underscores become dashes)."""
    items = [tuple(p) for p in pairs] + [(k.replace("_", "-"), str(v)) for k, v in named.items()]
    return Fault(headers=tuple(items))


def close() -> Fault:
    """Answer correctly, then close the connection (no keep-alive)."""
    return Fault(close=True)


# --- plans -------------------------------------------------------------------

PlanItem = Optional[Fault]
Rule = Callable[[Any], PlanItem]


def _path_key(path: str) -> str:
    return path if path.startswith("/") else "/" + path


class FaultPlan:
    """Decides the fault of each request. Thread-safe.

    - sequence: faults (or None for a correct answer) consumed one per request,
      in arrival order; after the last one every request gets `default`;
    - rule: a callable taking the request record and returning a Fault or None;
    - by_path: {path: sequence | Fault | callable}; a path's own sequence is consumed
      only by requests for that path (the path is compared without the query).
    Precedence: the request's path rule, else the rule, else the sequence, else `default`.
    Every request (HEAD too) draws from the plan.
    """

    def __init__(self, sequence: Iterable[PlanItem] = (), *, rule: Optional[Rule] = None,
                 by_path: Optional[Mapping[str, Any]] = None, default: PlanItem = None):
        self._lock = threading.Lock()
        self._sequence = list(sequence)
        self._rule = rule
        self._default = default or NONE
        self._by_path = {}
        for path, item in (by_path or {}).items():
            self._by_path[_path_key(path)] = _normalise_item(item)

    @classmethod
    def of(cls, plan: Any) -> "FaultPlan":
        """Accept what tests naturally write: None, a Fault, a list, a callable, a dict, a plan."""
        if plan is None:
            return cls()
        if isinstance(plan, FaultPlan):
            return plan
        if isinstance(plan, Fault):
            return cls(default=plan)
        if isinstance(plan, Mapping):
            return cls(by_path=plan)
        if callable(plan):
            return cls(rule=plan)
        if isinstance(plan, (list, tuple)):
            return cls(plan)
        raise TypeError(f"cannot make a fault plan of {plan!r}")

    @classmethod
    def random(cls, seed: int, *, probability: float = 0.3,
               kinds: Sequence[str] = ("drop", "stall", "delay", "error", "hangup"),
               max_offset: int = 256 * 1024, stall_seconds: tuple = (0.2, 1.0),
               statuses: Sequence[int] = (500, 502, 503), rate: tuple = (64 * 1024, 1024 * 1024),
               limit: Optional[int] = None) -> "FaultPlan":
        """A seeded random plan: each request gets a fault with `probability`.

        kinds: drop, stall (mid-body), delay (before headers), error, hangup,
        ignore_range, wrong_content_range, throttle, lying_length, no_content_length, chunked.
        Body offsets are drawn below `max_offset`; `limit` caps the number of faults so
        that a client that retries eventually gets through. The same seed gives the same
        sequence of draws (in request arrival order).
        """
        rng = random.Random(seed)
        lock = threading.Lock()
        injected = [0]

        def draw(_record: Any) -> PlanItem:
            with lock:
                if limit is not None and injected[0] >= limit:
                    return None
                if rng.random() >= probability:
                    return None
                injected[0] += 1
                kind = rng.choice(list(kinds))
                offset = rng.randrange(0, max(1, max_offset))
                seconds = rng.uniform(*stall_seconds)
                if kind == "drop":
                    return drop(offset)
                if kind == "stall":
                    return stall(seconds, after=offset)
                if kind == "delay":
                    return delay(seconds)
                if kind == "error":
                    return error(rng.choice(list(statuses)))
                if kind == "hangup":
                    return hangup()
                if kind == "ignore_range":
                    return ignore_range()
                if kind == "wrong_content_range":
                    return wrong_content_range(shift=rng.choice([-1, 1, 1000]))
                if kind == "throttle":
                    return throttle(rng.uniform(*rate))
                if kind == "lying_length":
                    return lying_length(rng.choice([-1, 1, 100]))
                if kind == "no_content_length":
                    return no_content_length()
                if kind == "chunked":
                    return chunked(rng.choice([1, 100, 8192]))
                raise ValueError(f"unknown fault kind {kind!r}")

        return cls(rule=draw)

    def add(self, *items: PlanItem) -> "FaultPlan":
        """Append to the sequence (e.g. between two downloads of one test)."""
        with self._lock:
            self._sequence.extend(items)
        return self

    def pending(self) -> int:
        """Sequence entries not consumed yet."""
        with self._lock:
            return len(self._sequence)

    def next(self, record: Any) -> Fault:
        path = _path_key(getattr(record, "path", "/"))
        with self._lock:
            if path in self._by_path:
                item = self._by_path[path]
                if isinstance(item, list):
                    return (item.pop(0) if item else None) or NONE
                if isinstance(item, Fault):
                    return item
                rule = item
            elif self._rule is not None:
                rule = self._rule
            elif self._sequence:
                return self._sequence.pop(0) or NONE
            else:
                return self._default
        return rule(record) or NONE


def _normalise_item(item: Any) -> Any:
    if item is None:
        return NONE
    if isinstance(item, Fault) or callable(item):
        return item
    return list(item)
