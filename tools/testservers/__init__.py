"""Local test servers on 127.0.0.1: file server, update service, GA4 sink, CRL server.

Put the repository's `tools/` folder on sys.path, then `from testservers import ...`.
See README.md beside this file.
"""

from . import faults
from .base import DEFAULT_LIFETIME, HOST, LoopbackServer, RequestLog, RequestRecord, split_query
from .faults import Fault, FaultPlan
from .fileserver import UNSATISFIABLE, CrlServer, FileServer, parse_range
from .ga4sink import COLLECT_PATH, Ga4Sink
from .tls import client_tls_context, server_tls_context
from .updateservice import QUERY_PATH, Answer, UpdateService

__all__ = [
    "Answer", "COLLECT_PATH", "CrlServer", "DEFAULT_LIFETIME", "Fault", "FaultPlan", "FileServer",
    "Ga4Sink", "HOST", "LoopbackServer", "QUERY_PATH", "RequestLog", "RequestRecord", "UNSATISFIABLE",
    "UpdateService", "client_tls_context", "faults", "parse_range", "server_tls_context", "split_query",
]
