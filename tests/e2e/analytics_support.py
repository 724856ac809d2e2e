"""Helpers for the end-to-end tests of the update query and the analytics: the driver programs, the queue
dump, the settings and registry values they read, and the loopback servers at the ports built into the
test build."""

from __future__ import annotations

import contextlib
import errno
import re
import socket
import subprocess
import time
import urllib.parse
from dataclasses import dataclass, field

import pytest

from winehost import BUILD, PREFIX, roaming_appdata, wine_environment

ANALYTICS_DRIVER = BUILD / "tools" / "AnalyticsDriver" / "AnalyticsDriver.exe"
QUERY_DRIVER = ANALYTICS_DRIVER

QUEUE_NAME = "OVAnalyticsForGA4.dat"
DEBUGGING_KEY = r"HKLM\Software\Orvane\Debugging"
IDENTITY_KEY = r"HKCU\Software\Orvane\ClientIdentity"


def cache_value(name):
    """A CMake cache value of the test build (the hosts and the measurement id built into it)."""
    for line in (BUILD / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    raise KeyError(name)


def host_port(name):
    return int(cache_value(name).rsplit(":", 1)[1])


TEST_SERVICE_PORT = host_port("OV_TEST_SERVICE_HOST")
LIVE_SERVICE_PORT = host_port("OV_LIVE_SERVICE_HOST")
COLLECT_PORT = host_port("OV_GA4_COLLECT_HOST")
MEASUREMENT_ID = cache_value("OV_GA4_MEASUREMENT_ID")


# --- servers at the fixed ports ----------------------------------------------------------------------------

PORT_WAIT_S = 300


def serving(make_server, wait_s=PORT_WAIT_S):
    """The server that make_server() binds to a port built into the test build. The port belongs to the whole
    machine, so a test run of another worktree may hold it for a while: wait for it rather than fail."""
    deadline = time.monotonic() + wait_s
    while True:
        try:
            return make_server()
        except OSError as error:
            if error.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                raise
            time.sleep(0.5)


@contextlib.contextmanager
def refusing(port):
    """Holds the port without listening, so that connections to it are refused."""
    def bind():
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            sock.bind(("127.0.0.1", port))
        except OSError:
            sock.close()
            raise
        return sock
    sock = serving(bind)
    try:
        yield
    finally:
        sock.close()


# --- programs ----------------------------------------------------------------------------------------------

@dataclass
class ToolRun:
    returncode: int
    output: str
    seconds: float
    values: dict = field(default_factory=dict)
    errors: str = ""

    def describe(self):
        return f"exit code {self.returncode}\n{self.output}\n{self.errors}"


def parse_values(output):
    values = {}
    for line in output.splitlines():
        key, sep, value = line.rstrip("\r").partition("=")
        if sep and " " not in key:
            values[key] = value
    return values


def run_tool(exe, *args, env=None, timeout=60):
    started = time.monotonic()
    completed = subprocess.run(["wine", str(exe), *map(str, args)], env=wine_environment(env),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    output = completed.stdout.decode("utf-8", "replace")
    return ToolRun(completed.returncode, output, time.monotonic() - started, parse_values(output),
                   completed.stderr.decode("utf-8", "replace"))


def start_tool(exe, *args, env=None):
    return subprocess.Popen(["wine", str(exe), *map(str, args)], env=wine_environment(env),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def driver(*args, env=None, timeout=60):
    result = run_tool(ANALYTICS_DRIVER, *args, env=env, timeout=timeout)
    assert "exception" not in result.values, result.describe()
    assert result.returncode == 0, result.describe()
    return result


# --- the queue file ----------------------------------------------------------------------------------------

def analytics_folder():
    return roaming_appdata() / "Orvane" / "Analytics"


def queue_path(name=QUEUE_NAME):
    return analytics_folder() / name


@dataclass
class QueueRecord:
    offset: int
    size: int
    extra: bytes
    query: str

    @property
    def params(self):
        return hit_params(self.query)

    @property
    def result(self):
        return dict(self.params).get("ep.result")


@dataclass
class QueueDump:
    header: dict
    records: list
    end: str  # "end" or "damaged"
    end_offset: int


def hit_params(query):
    """The (key, value) pairs of a hit, percent-decoded as UTF-8, in order."""
    pairs = []
    for item in query.split("&"):
        key, _, value = item.partition("=")
        pairs.append((urllib.parse.unquote(key), urllib.parse.unquote(value)))
    return pairs


def dump_queue(name=QUEUE_NAME):
    run = run_tool(ANALYTICS_DRIVER, "--data-file", name, "dump")
    if run.returncode != 0 and not run.output:
        # The dump prints a line whatever it finds, so a silent failure is Wine not starting it (seen once
        # in CI while another Updater.exe was running); one more start tells the two apart.
        run = run_tool(ANALYTICS_DRIVER, "--data-file", name, "dump")
    assert run.returncode == 0, run.describe()
    header, records, end, end_offset = None, [], None, None
    for line in run.output.splitlines():
        line = line.rstrip("\r")
        if line.startswith("header "):
            header = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", line)}
        elif line.startswith("record "):
            m = re.match(r"record offset=(\d+) size=(\d+) extra=([0-9a-f]*) query=(.*)$", line)
            records.append(QueueRecord(int(m[1]), int(m[2]), bytes.fromhex(m[3]), m[4]))
        elif line.startswith(("end ", "damaged ")):
            end, offset = line.split(" offset=")
            end_offset = int(offset)
    assert header is not None and end is not None, run.output
    return QueueDump(header, records, end, end_offset)


def remove_queue(name=QUEUE_NAME):
    queue_path(name).unlink(missing_ok=True)


# --- what the program reads from the user's profile and the registry ---------------------------------------

def settings_file():
    return roaming_appdata() / "Orvane" / "Orvane Games" / "App" / "Settings" / "GamesApp.ini"


def write_cookies(consent=None, ga=None):
    """Writes the client's settings file with the given cookies (None leaves a cookie out)."""
    lines = ["[cookies]"]
    if consent is not None:
        lines.append(f"OptanonConsent={consent}")
    if ga is not None:
        lines.append(f"_ga={ga}")
    path = settings_file()
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")


def consent_cookie(**groups):
    """An OptanonConsent value with the given groups, e.g. consent_cookie(C0002=1, C0003=0)."""
    listed = "%2C".join(f"{name}%3A{value}" for name, value in groups.items())
    return f"isGpcEnabled=0&datestamp=Mon+Jan+05+2026&version=202411.1.0&groups={listed}&geolocation=DE%3BBY"


@contextlib.contextmanager
def cookies(consent=None, ga=None):
    path = settings_file()
    saved = path.read_bytes() if path.exists() else None
    write_cookies(consent, ga)
    try:
        yield
    finally:
        if saved is None:
            path.unlink(missing_ok=True)
        else:
            path.write_bytes(saved)


def reg(*args, check=True):
    return subprocess.run(["wine", "reg", *args], env=wine_environment(), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=60, check=check)


def set_dword(key, name, value):
    reg("add", key, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")


def set_string(key, name, value):
    reg("add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")


def delete_value(key, name):
    reg("delete", key, "/v", name, "/f", check=False)


def delete_key(key):
    reg("delete", key, "/f", check=False)


# --- TLS for the collection sink ---------------------------------------------------------------------------

@pytest.fixture(scope="session")
def trusted_tls(tmp_path_factory):
    """A test CA trusted inside the prefix for the session, and its 127.0.0.1 server certificate."""
    import pki

    tls = pki.make_tls_pki(tmp_path_factory.mktemp("analytics-tls"))
    pki.import_into_prefix(PREFIX, tls.ca)
    yield tls
    delete_key(r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates" "\\" + pki.thumbprint(tls.ca))


def wait_until(predicate, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()
