"""Support of the end-to-end tests (and of bench/, the demo and the release check): the project's Windows
programs under the test Wine prefix, the loopback servers at the ports built into the test build, and what
the programs leave behind. One way each to start a program (`run_tool`, `start_tool`, `run_windows_program`),
to run Updater.exe (`UpdaterHarness`, the `updater` fixture of conftest.py), to answer its message box
(`BoxAnswer`), to read the analytics queue (`dump_queue`) and to read a log (`log_lines`)."""

from __future__ import annotations

import contextlib
import errno
import getpass
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import urllib.parse
import uuid
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Dict, List, Optional, Tuple

import pki
from testservers import Answer, FileServer, Ga4Sink, UpdateService

# --- the build, the prefix and Wine ----------------------------------------------------------------------

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "x64"
PREFIX = Path(os.environ.get("OV_WINEPREFIX", os.environ.get("WINEPREFIX", ROOT / "build" / "wineprefix")))
# The release check runs the shipped programs signed: a folder with Updater.exe, Park.exe and
# ElevationService.exe side by side, as they ship, in place of the test build's.
SHIPPED = Path(os.environ["OV_SHIPPED_PROGRAMS"]) if os.environ.get("OV_SHIPPED_PROGRAMS") else None


def shipped_program(name, built):
    """The shipped program `name`: from OV_SHIPPED_PROGRAMS when set, else the test build's `built`."""
    return SHIPPED / name if SHIPPED else built


UPDATER = shipped_program("Updater.exe", BUILD / "Updater.exe")
PARK = shipped_program("Park.exe", BUILD / "Park.exe")
ELEVATION_SERVICE = shipped_program("ElevationService.exe", BUILD / "ElevationService" / "ElevationService.exe")


def tool(name):
    return BUILD / "tools" / name / f"{name}.exe"


ANALYTICS_DRIVER = tool("AnalyticsDriver")
DRIVER = tool("DownloadDriver")
EVENT_PROBE = tool("EventProbe")
ANSWER_TOOL = tool("MessageBoxAnswer")
LAUNCH = tool("Launch")
PROCESS_HELPER = tool("ProcessHelper")
QUERY_DRIVER = ANALYTICS_DRIVER  # its "query" command
TEST_INSTALLER = tool("TestInstaller")
TEST_PE = tool("TestPe")
TRUST_CHECK = tool("TrustCheck")
WEB_REQUEST_DRIVER = tool("WebRequestDriver")

PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY",
                   "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY")


def wine_environment(extra=None):
    env = {k: v for k, v in os.environ.items() if k not in PROXY_VARIABLES and k != "DISPLAY"}
    env.update(WINEPREFIX=str(PREFIX), WINEARCH="win64")
    env.setdefault("WINEDEBUG", "-all")
    env.update(extra or {})
    return env


def windows_path(path):
    """The path a Windows program in the prefix sees for a host path (Wine maps Z: to /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def windows_path_in_prefix(host_path: Path) -> str:
    """The C: path a program in the prefix uses for a file under the prefix's drive_c."""
    return "C:\\" + str(Path(host_path).relative_to(PREFIX / "drive_c")).replace("/", "\\")


def prefix_path(windows: str) -> Path:
    """The host path of a C: path inside the prefix."""
    return PREFIX / "drive_c" / windows[3:].replace("\\\\", "\\").replace("\\", "/")


def quote_argument(argument):
    """Quotes one argument by the Windows C runtime's rules."""
    if argument and not any(c in argument for c in ' \t"'):
        return argument
    result, backslashes = '"', 0
    for c in argument:
        if c == "\\":
            backslashes += 1
            continue
        if c == '"':
            result += "\\" * (backslashes * 2 + 1) + '"'
        else:
            result += "\\" * backslashes + c
        backslashes = 0
    return result + "\\" * (backslashes * 2) + '"'


def user_folder():
    users = PREFIX / "drive_c" / "users"
    for candidate in [users / getpass.getuser(), *sorted(p for p in users.iterdir() if p.name != "Public")]:
        if (candidate / "AppData").is_dir():
            return candidate
    raise RuntimeError(f"no user folder in {users}")


def roaming_appdata():
    return user_folder() / "AppData" / "Roaming"


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

# --- starting programs ------------------------------------------------------------------------------------


def parse_values(output, separator="="):
    """The "key<separator>value" lines of a tool's output (keys without blanks)."""
    values = {}
    for line in output.splitlines():
        key, sep, value = line.rstrip("\r").partition(separator)
        if sep and " " not in key:
            values[key] = value
    return values


@dataclass
class ToolRun:
    returncode: int
    output: str
    seconds: float
    values: dict = field(default_factory=dict)
    errors: str = ""

    def describe(self):
        return f"exit code {self.returncode}\n{self.output}\n{self.errors[-2000:]}"


def run_tool(exe, *args, env=None, timeout=60, encoding="utf-8"):
    """Runs a program to its end; its output and its "key=value" lines."""
    # Output to files, not pipes: a process that Wine starts meanwhile (the desktop, on the first window or
    # crypto call) inherits them and would hold a pipe open after the program ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        started = time.monotonic()
        completed = subprocess.run(["wine", str(exe), *map(str, args)], env=wine_environment(env),
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout)
        seconds = time.monotonic() - started
        out.seek(0)
        err.seek(0)
        output = out.read().decode(encoding, "replace")
        errors = err.read().decode("utf-8", "replace")
    return ToolRun(completed.returncode, output, seconds, parse_values(output), errors)


def analytics_driver(*args, env=None, timeout=60):
    """tools/AnalyticsDriver run to a clean end."""
    result = run_tool(ANALYTICS_DRIVER, *args, env=env, timeout=timeout)
    assert result.returncode == 0 and "exception" not in result.values, result.describe()
    return result


def start_tool(exe, *args, env=None, output: Optional[Path] = None):
    """Starts a program in the background: its output piped, or written to `output` (see run_tool)."""
    with open(output, "wb") if output is not None else contextlib.nullcontext(subprocess.PIPE) as out:
        return subprocess.Popen(["wine", str(exe), *map(str, args)], env=wine_environment(env),
                                stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL if output is not None else subprocess.PIPE)


def log_lines(path: Path) -> List[str]:
    """The lines of a log or output file (none when it is not there)."""
    return path.read_bytes().decode("utf-8", "replace").splitlines() if path.exists() else []


def launch_arguments(exe, command_line_tail, timeout_s, unelevated=False):
    """tools/Launch starting exe with exactly `exe-path + ' ' + command_line_tail` as its command line."""
    command_line = quote_argument(windows_path(exe)) + (" " + command_line_tail if command_line_tail else "")
    args = ["--timeout-ms", str(int(timeout_s * 1000))] + (["--unelevated"] if unelevated else [])
    return args, {"OV_LAUNCH_COMMAND_LINE": command_line}


def launch_result(output: str) -> Tuple[Optional[int], bool]:
    """(exit code, timed out) as tools/Launch reports them; (None, False) when it reported neither."""
    for line in output.splitlines():
        line = line.rstrip("\r")
        if line.startswith("exit-code: "):
            return int(line[len("exit-code: "):]), False
        if line == "timeout":
            return None, True
    return None, False


@dataclass
class RunResult:
    exit_code: int | None
    timed_out: bool
    stdout: str = ""


def run_windows_program(exe, command_line_tail="", timeout_s=60, env=None, unelevated=False):
    """Runs exe through tools/Launch with an exact command line."""
    args, extra = launch_arguments(exe, command_line_tail, timeout_s, unelevated)
    done = run_tool(LAUNCH, *args, env={**extra, **(env or {})}, timeout=timeout_s + 30)
    exit_code, timed_out = launch_result(done.output)
    result = RunResult(exit_code=exit_code, timed_out=timed_out, stdout=done.output)
    if exit_code is None and not timed_out:
        raise RuntimeError(f"launcher failed: {done.describe()}")
    return result


def wait_until(predicate, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


# --- the registry -----------------------------------------------------------------------------------------

DEBUGGING_KEY = r"HKEY_LOCAL_MACHINE\Software\Orvane\Debugging"
INSTALLER_STATUS_KEY = r"HKEY_LOCAL_MACHINE\Software\Orvane\InstallerStatus"
IDENTITY_KEY = r"HKEY_CURRENT_USER\Software\Orvane\ClientIdentity"
ROOT_STORE_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\Root\Certificates"


def _reg_text(value) -> str:
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        raise TypeError(f"registry value {value!r}: give an int (REG_DWORD) or a str (REG_SZ)")
    if isinstance(value, int):
        return f"dword:{value:08x}"
    return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


def import_registry(keys: Dict[str, Optional[Dict[str, object]]]) -> None:
    """Replaces each key by exactly the given values (None: deletes the key), in one `wine reg import`."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        lines += [f"[-{key}]", ""]
        if values is not None:
            lines.append(f"[{key}]")
            lines += [f'"{name}"={_reg_text(value)}' for name, value in values.items()]
            lines.append("")
    with tempfile.TemporaryDirectory(prefix="ov-reg-") as folder:
        path = Path(folder) / "values.reg"
        path.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-16"))
        done = run_tool("reg", "import", "Z:" + str(path))
        if done.returncode != 0 and not (done.output or done.errors):
            # Wine's reg has once ended with 1 and no word at all (the first test of a fresh prefix): that
            # is no verdict on the file, so it gets one more try.
            time.sleep(0.5)
            done = run_tool("reg", "import", "Z:" + str(path))
    if done.returncode != 0:
        raise RuntimeError(f"wine reg import failed: {done.describe()}")


def query_registry_value(key: str, name: Optional[str]) -> Optional[str]:
    """The data of one value (None: the default value) as `reg query` prints it; None when missing."""
    done = run_tool("reg", "query", key, *(["/v", name] if name is not None else ["/ve"]))
    for line in done.output.splitlines():
        fields = line.strip().split(None, 2)
        if len(fields) >= 2 and (name is None or fields[0] == name) and fields[1].startswith("REG_"):
            return fields[2] if len(fields) == 3 else ""
    return None


def trust_roots(*certificates) -> None:
    """Makes the prefix trust these roots (idempotent: the store key is named by the thumbprint)."""
    pki.import_into_prefix(PREFIX, *certificates)


def distrust_roots(*certificates) -> None:
    import_registry({rf"{ROOT_STORE_KEY}\{pki.thumbprint(c)}": None for c in certificates})


# --- servers at the fixed ports ---------------------------------------------------------------------------

PORT_WAIT_S = 600  # other test sessions of this machine use the same fixed ports in turn


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
        # The test servers' closed connections on this port sit in TIME_WAIT for a minute; without this the
        # bind waits them out. A socket still listening on the port keeps refusing the bind.
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
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


# --- the analytics queue and the client's settings --------------------------------------------------------

QUEUE_NAME = "OVAnalyticsForGA4.dat"


def analytics_folder():
    return roaming_appdata() / "Orvane" / "Analytics"


def queue_path(name=QUEUE_NAME):
    return analytics_folder() / name


def remove_queue(name=QUEUE_NAME):
    queue_path(name).unlink(missing_ok=True)


def hit_params(query):
    """The (key, value) pairs of a hit, percent-decoded as UTF-8, in order."""
    return [(urllib.parse.unquote(k), urllib.parse.unquote(v)) for k, _, v in (i.partition("=") for i in query.split("&"))]


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

    @property
    def results(self):
        return [record.result for record in self.records]


def dump_queue(name=QUEUE_NAME):
    """What the analytics driver's dump reads from the queue file."""
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


def settings_file():
    return roaming_appdata() / "Orvane" / "Orvane Games" / "App" / "Settings" / "GamesApp.ini"


def write_cookies(consent=None, ga=None):
    """Writes the client's settings file with the given cookies (None leaves a cookie out)."""
    lines = ["[cookies]"] + ([f"OptanonConsent={consent}"] if consent is not None else []) + \
        ([f"_ga={ga}"] if ga is not None else [])
    path = settings_file()
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")


def consent_cookie(**groups):
    """An OptanonConsent value with the given groups, e.g. consent_cookie(C0002=1, C0003=0)."""
    listed = "%2C".join(f"{name}%3A{value}" for name, value in groups.items())
    return f"isGpcEnabled=0&datestamp=Mon+Jan+05+2026&version=202411.1.0&groups={listed}&geolocation=DE%3BBY"


@contextlib.contextmanager
def kept(path: Path):
    """The file as it is now is put back (or removed, if there was none) at the end of the block."""
    saved = path.read_bytes() if path.exists() else None
    try:
        yield path
    finally:
        if saved is None:
            path.unlink(missing_ok=True)
        else:
            path.write_bytes(saved)


@contextlib.contextmanager
def cookies(consent=None, ga=None):
    """The settings file with these cookies (both None: no settings file) for the length of the block."""
    with kept(settings_file()) as path:
        if consent is None and ga is None:
            path.unlink(missing_ok=True)
        else:
            write_cookies(consent, ga)
        yield


# --- logs -------------------------------------------------------------------------------------------------

def download_folder(product: str) -> Path:
    return roaming_appdata() / "Orvane" / "Updater" / product


def run_log_path(product: str) -> Path:
    return roaming_appdata() / "Orvane" / "Orvane Games" / "App" / "Update" / f"{product}_Update.log"


def park_log_path() -> Path:
    return roaming_appdata() / "Orvane" / "Logs" / "Park.log"


PROTECTED_FOLDER = PREFIX / "drive_c" / "ProgramData" / "Orvane" / "Protected"


def service_log_path() -> Path:
    return PROTECTED_FOLDER / "ElevationService.log"


LOG_LINE = re.compile(r"^\S+ \S+ \[(\d+)\] (.*)$")


def park_log_entries(marker: str) -> List[Tuple[str, str]]:
    """(process id, text) of every log line of each Park.exe whose start line contains marker."""
    # Process ids come again in a log that outlives many runs: a line belongs to the latest start of its id.
    selected, active = [], {}
    for pid, text in (m.groups() for m in map(LOG_LINE.match, log_lines(park_log_path())) if m):
        if text.startswith("started: "):
            active[pid] = marker in text
        if active.get(pid):
            selected.append((pid, text))
    return selected


def wait_for_park_line(marker: str, text: Optional[str] = None, timeout_s: float = 30) -> str:
    """Waits until a Park.exe started with marker in its command line logs text (None: has created its
    events and waits); that Park.exe's pid."""
    def found():
        return next((pid for pid, line in park_log_entries(marker)
                     if (line == text if text is not None else line.startswith("waiting on "))), None)
    pid = wait_until(found, timeout_s)
    if not pid:
        raise TimeoutError(f"no Park.exe with {marker!r} logged {text!r}; log: {log_lines(park_log_path())[-10:]}")
    return pid


# --- decision events and message boxes of a run -----------------------------------------------------------

class EventProbe:
    """tools/EventProbe watching the decision events of one product for the length of a run."""

    def __init__(self, product: str, folder: Path, timeout_s: float):
        self.stop_name = f"OvEventProbeStop-{uuid.uuid4()}"
        self.output = folder / f"probe-{uuid.uuid4().hex[:8]}.txt"
        self.process = start_tool(EVENT_PROBE, "watch", product, self.stop_name, int(timeout_s * 1000),
                                  output=self.output)
        wait_until(lambda: "ready" in self._lines() or self.process.poll() is not None, 30, 0.02)
        if "ready" not in self._lines():
            self.process.kill()
            raise RuntimeError(f"EventProbe did not get ready: {self._lines()}")

    def _lines(self) -> List[str]:
        return [line.strip() for line in log_lines(self.output)]

    def stop(self) -> List[str]:
        """Stops the probe; returns the names of the events set, in order."""
        # Now and then Wine does not run a program it was asked to start (seen with a queue dump in CI, and
        # with this stop under a loaded machine): a watcher still running after a while is stopped again.
        for attempt in range(3):
            run_tool(EVENT_PROBE, "stop", self.stop_name)
            try:
                self.process.wait(timeout=15)
                break
            except subprocess.TimeoutExpired:
                if attempt == 2:
                    self.process.kill()
                    raise
        lines = self._lines()
        if "stopped" not in lines:
            raise RuntimeError(f"EventProbe ended without being stopped: {lines}")
        return [line[len("set "):] for line in lines if line.startswith("set ")]


@dataclass
class AnsweredBox:
    caption: str
    text: str
    buttons: tuple


class BoxAnswer:
    """tools/MessageBoxAnswer beside a run, waiting for its message box (caption "Update") to answer it
    ("yes", "no", "ok"), or with "none" only to see whether one is shown."""

    def __init__(self, answer: str, folder: Path, timeout_s: float, caption: str = "Update"):
        self.output = folder / f"box-{uuid.uuid4().hex[:8]}.txt"
        self.process = start_tool(ANSWER_TOOL, "--caption", caption, "--answer", answer, "--timeout-ms",
                                  int(timeout_s * 1000), env={"LC_ALL": "C.UTF-8"}, output=self.output)

    def result(self, wait_s: float = 2) -> Optional[AnsweredBox]:
        """The box that was shown (and answered); None when none was shown while the run lasted."""
        try:
            self.process.wait(timeout=wait_s)
        except subprocess.TimeoutExpired:
            self.process.kill()  # still looking: the run ended without a box
            self.process.wait(timeout=30)
            return None
        lines = log_lines(self.output)
        if self.process.returncode == 1 or not lines:
            return None
        if self.process.returncode != 0:
            raise RuntimeError(f"MessageBoxAnswer failed with {self.process.returncode}: {lines}")
        report = json.loads(lines[0])
        return AnsweredBox(report["caption"], report["text"], tuple(report["buttons"]))


# --- one run of Updater.exe -------------------------------------------------------------------------------

@dataclass
class UpdaterRun:
    """What one run of Updater.exe did."""

    command_line: str
    product: Optional[str]
    exit_code: Optional[int]
    timed_out: bool
    killed: bool
    elapsed_s: float
    events: Optional[List[str]]  # decision events set, in order (None: not watched)
    box: Optional[AnsweredBox]  # the message box shown and answered (None: none, or not watched)
    hits: List[Dict[str, str]]  # decoded parameters of each GA4 hit the sink received during the run
    queued: List[Dict[str, str]]  # the same of each event the run queued that is still waiting to be sent
    queries: list  # RequestRecords of the update service's queries
    file_requests: list  # RequestRecords of both file servers, in arrival order
    download_folder: Path
    download_files: Dict[str, bytes]  # the files left in the product's download folder
    log_path: Path
    log_text: str
    stdout: str = ""

    @property
    def reported(self) -> List[Dict[str, str]]:
        """Every event the run reported, in order: those sent, then those still queued. (An event queued
        while the upload thread ends its idle second is left for the next process to send.)"""
        return self.hits + self.queued

    @property
    def results(self) -> List[Optional[str]]:
        """The "ep.result" of each event the run reported, in order."""
        return [event.get("ep.result") for event in self.reported]

    def describe(self) -> str:
        return (f"run {self.command_line!r}: exit {self.exit_code}, timed out {self.timed_out}, "
                f"events {self.events}, box {self.box}, hits {self.hits}, queued {self.queued}, "
                f"files {sorted(self.download_files)}, {len(self.queries)} queries, "
                f"{len(self.file_requests)} file requests, {self.elapsed_s:.1f} s; log: {self.log_text[-1500:]!r}")


class RunningUpdater:
    """A run started in the background; `finish()` waits for it and collects the `UpdaterRun`."""

    def __init__(self, harness: "UpdaterHarness", command_line: str, product: Optional[str], watch_events: bool,
                 answer_box: Optional[str], timeout_s: float, env: Optional[dict], unelevated: bool):
        self.harness = harness
        self.command_line = command_line
        self.product = product
        self.tag = uuid.uuid4().hex
        self.killed = False
        self.timeout_s = timeout_s
        self._marks = harness._log_marks()
        self.effective_product = product if product is not None else DEFAULT_PRODUCT
        self._probe = EventProbe(self.effective_product, harness.work, timeout_s + 60) if watch_events else None
        self._box = BoxAnswer(answer_box, harness.work, timeout_s) if answer_box is not None else None
        self._outcome: dict = {}
        run_env = {"OV_RUN_TAG": self.tag, **(env or {})}

        def body():
            try:
                self._outcome["result"] = run_windows_program(harness.program, command_line, timeout_s=timeout_s,
                                                              env=run_env, unelevated=unelevated)
            except BaseException as error:  # handed to finish()
                self._outcome["error"] = error

        self.started = time.monotonic()
        self._thread = threading.Thread(target=body, daemon=True)
        self._thread.start()

    def running(self) -> bool:
        return self._thread.is_alive()

    def kill(self) -> None:
        """Ends the run's process at once, as a crash or a power cut would (the Unix process of this run's
        Updater.exe, found by the tag in its environment)."""
        for pid in _processes_with_tag(self.tag, "Updater.exe"):
            try:
                os.kill(pid, signal.SIGKILL)
                self.killed = True
            except ProcessLookupError:
                pass

    def finish(self, *, allow_timeout: bool = False) -> UpdaterRun:
        """Waits for the run (Launch ends it at its time limit) and collects what it did. A run that had to
        be ended at its time limit has hung: that fails the test unless `allow_timeout`."""
        self._thread.join(timeout=self.timeout_s + 60)
        if self._thread.is_alive():
            self.kill()
            self._thread.join(timeout=30)
        elapsed = time.monotonic() - self.started
        events = self._probe.stop() if self._probe is not None else None
        box = self._box.result() if self._box is not None else None
        if "error" in self._outcome:
            raise self._outcome["error"]
        result = self._outcome["result"]
        if result.timed_out and not allow_timeout:
            raise AssertionError(f"Updater.exe {self.command_line!r} hung: no exit within {self.timeout_s} s")
        return self.harness._collect(self, result, events, box, elapsed)


def _processes_with_tag(tag: str, image: str) -> List[int]:
    marker = f"OV_RUN_TAG={tag}".encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            environ = Path(f"/proc/{entry}/environ").read_bytes().split(b"\0")
            command = Path(f"/proc/{entry}/cmdline").read_bytes()
        except OSError:
            continue
        if marker in environ and image.encode() in command.split(b"\0")[0]:
            found.append(int(entry))
    return found


# The window would only slow the runs down: it stays hidden unless a test asks for it.
DEFAULT_DEBUGGING = {"UseTestEnvironment": 1, "UpdaterPauseBeforeDialogMs": 600000, "UpdaterMinDialogShowTimeMs": 0}
FULL_CONSENT = consent_cookie(C0001=1, C0002=1, C0003=1)  # every cookie category
RUN_SECONDS = 60  # a run that takes longer has hung
DEFAULT_PRODUCT = "TesselAGGamesApp"  # the run's product without "/product="
TEST_PRODUCT = object()  # stands for the harness's own product in `start`
SERVER_LIFETIME = 1800
_SIGNED: Dict[tuple, bytes] = {}


def _present(path: Path) -> bool:
    """Whether a file or folder named after a product is there; a name too long for this file system cannot
    be (the program refuses such products)."""
    try:
        return path.exists()
    except OSError:
        return False


def _remove_log(product: str) -> None:
    path = run_log_path(product)
    if _present(path):
        path.unlink()


@dataclass
class Installer:
    """An installer as the service announces it."""

    data: bytes
    path: str  # path on the file server
    url: str

    @property
    def size(self) -> int:
        return len(self.data)

    @property
    def hash(self) -> str:
        return hashlib.sha256(self.data).hexdigest().upper()


class UpdaterHarness:
    """`debugging`: sets the debugging values for its runs and removes them at the end (a caller that keeps
    them set for all its harnesses passes False)."""

    def __init__(self, work: Path, tls_pki, codesign_pki_source: Callable[[], object], product: str,
                 debugging: bool = True):
        self.work = work
        self.tls = tls_pki
        self._codesign_source = codesign_pki_source
        self.product = product
        self.program = UPDATER  # the Updater.exe that runs
        self._registry_keys: List[str] = []
        self._servers = []
        self._settings = kept(settings_file())
        self._settings.__enter__()
        try:
            self.files = self._serve(FileServer(lifetime=SERVER_LIFETIME))
            self.files_tls = self._serve(FileServer(tls=self.tls.server, lifetime=SERVER_LIFETIME))
            self.service = self._serve(serving(lambda: UpdateService(
                port=TEST_SERVICE_PORT, tls=self.tls.server, lifetime=SERVER_LIFETIME)))
            self.sink = self._serve(serving(lambda: Ga4Sink(port=COLLECT_PORT, tls=self.tls.server,
                                                            lifetime=SERVER_LIFETIME)))
            if debugging:
                self.set_registry(DEBUGGING_KEY, DEFAULT_DEBUGGING)
            write_cookies(consent=FULL_CONSENT)
            self._clean_state()
        except BaseException:
            self.close()
            raise

    def _serve(self, server):
        self._servers.append(server)
        return server

    def close(self) -> None:
        for server in self._servers:
            server.stop()
        if self._registry_keys:
            import_registry({key: None for key in self._registry_keys})
        self._settings.__exit__(None, None, None)
        self._clean_state()

    def _clean_state(self) -> None:
        shutil.rmtree(download_folder(self.product), ignore_errors=True)
        _remove_log(self.product)
        clear_invocations()

    def download_folder(self, product: Optional[str] = None) -> Path:
        return download_folder(product if product is not None else self.product)

    def set_registry(self, key: str, values: Optional[Dict[str, object]]) -> None:
        """Replaces a key of the prefix's registry by these values (None: removes it); removed at the end."""
        if key not in self._registry_keys:
            self._registry_keys.append(key)
        import_registry({key: values})

    @property
    def codesign(self):
        return self._codesign_source()

    # installers and offers
    def signed_installer(self, signer: Optional[str] = "orvane-inc", source: Path = TEST_INSTALLER) -> bytes:
        """A copy of the test installer signed by one leaf of the test code-signing PKI (None: unsigned).
        Signed copies are made once per session and signer."""
        if signer is None:
            return source.read_bytes()
        key = (str(source), signer, id(self.codesign))
        if key not in _SIGNED:
            signed = self.work / f"signed-{signer}.exe"
            pki.sign_pe(source, signed, self.codesign.leaf(signer))
            _SIGNED[key] = signed.read_bytes()
        return _SIGNED[key]

    def handoff_arguments(self) -> List[str]:
        """Arguments that let a run hand its installer over without a parking program: "/noparking" and a
        "/parkpath=" naming a file that exists (it is copied, never started). The test installer is told
        to end quickly."""
        stand_in = self.work / "park-stand-in.exe"
        if not stand_in.exists():
            stand_in.write_bytes(b"MZ stand-in, never started")
        set_test_installer(steps=1, step_ms=50)
        return ["/noparking", f"/parkpath={windows_path(stand_in)}"]

    def host(self, path: str, data: bytes, *, tls: bool = False) -> Installer:
        """Puts data on the HTTP (or HTTPS) file server under path."""
        server = self.files_tls if tls else self.files
        server.set_file(path, data)
        return Installer(data=data, path=path, url=server.url(path))

    def offer(self, installer: Installer, *, size=None, hash=None, **answer) -> None:
        """Makes the service offer this installer for every query, with its true size and hash unless
        others are given."""
        self.service.set_answers(Answer.offer(installer.url, installer.hash if hash is None else hash,
                                              installer.size if size is None else size, **answer))

    # runs
    def command_line(self, arguments, product) -> str:
        parts = [quote_argument(f"/product={product}")] if product is not None else []
        return " ".join(parts + [quote_argument(a) for a in arguments])

    def start(self, *arguments: str, product=TEST_PRODUCT, raw: Optional[str] = None, watch_events: bool = True,
              answer_box: Optional[str] = None, timeout_s: float = RUN_SECONDS, env: Optional[dict] = None,
              unelevated: bool = False) -> RunningUpdater:
        """Starts Updater.exe with "/product=<the test's product>" and the arguments (each quoted as needed).
        `product` names another product ("" gives "/product=" with nothing after it, None no "/product=" at
        all); `raw` is the whole command line tail instead (then `product` only says which events to watch).
        `answer_box` ("yes", "no", "ok") answers the run's message box, "none" only notes whether one came.
        `unelevated` starts it with the limited token (every Wine process is elevated otherwise).
        The product's run log and the analytics queue left by earlier runs are removed first."""
        if product is TEST_PRODUCT:
            product = self.product
        command_line = raw if raw is not None else self.command_line(arguments, product)
        _remove_log(product if product is not None else DEFAULT_PRODUCT)
        remove_queue()
        return RunningUpdater(self, command_line, product, watch_events, answer_box, timeout_s, env, unelevated)

    def run(self, *arguments: str, during: Optional[Callable[[RunningUpdater], None]] = None,
            allow_timeout: bool = False, **options) -> UpdaterRun:
        """Runs Updater.exe to its end (see `start`); `during` is called about every 50 ms while it runs."""
        running = self.start(*arguments, **options)
        if during is not None:
            while running.running():
                during(running)
                time.sleep(0.05)
        return running.finish(allow_timeout=allow_timeout)

    def _log_marks(self) -> dict:
        return {name: len(server.log) for name, server in self._named_servers().items()}

    def _named_servers(self) -> dict:
        return {"files": self.files, "files_tls": self.files_tls, "service": self.service, "sink": self.sink}

    def _since(self, name: str, marks: dict) -> list:
        log = self._named_servers()[name].log
        # Answers still going out when the process ended are finished by the server within moments.
        wait_until(lambda: all(r.finished is not None for r in log.records()[marks[name]:]), 5, 0.02)
        return log.records()[marks[name]:]

    def _collect(self, running: RunningUpdater, result, events, box, elapsed) -> UpdaterRun:
        marks = running._marks
        folder = download_folder(running.effective_product)
        files = ({p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.is_file()}
                 if _present(folder) and folder.is_dir() else {})
        sink_records = [r for r in self._since("sink", marks) if r.path == "/g/collect"]
        service_records = [r for r in self._since("service", marks) if r.path == "/v1/client-updates/"]
        file_records = sorted(self._since("files", marks) + self._since("files_tls", marks), key=lambda r: r.started)
        log_path = run_log_path(running.effective_product)
        return UpdaterRun(
            command_line=running.command_line, product=running.product, exit_code=result.exit_code,
            timed_out=result.timed_out, killed=running.killed, elapsed_s=elapsed, events=events, box=box,
            hits=[dict(r.params) for r in sink_records],
            queued=[dict(r.params) for r in dump_queue().records] if queue_path().exists() else [],
            queries=service_records, file_requests=file_records,
            download_folder=folder, download_files=files, log_path=log_path,
            log_text=log_path.read_bytes().decode("utf-8", "replace") if _present(log_path) else "",
            stdout=result.stdout)


# --- the installer hand-off: tools/TestInstaller, Park.exe, the elevation service -------------------------

# The pieces of Park.exe's command line, exactly.
EXECUTE_PREFIX = '/Execute "'
LAUNCH_PART = '" /LaunchParams "/noupdate! /userlocale '
PARTNER_PART = " /dp "
EVENTS_PART = '" /EventTerminate "Global\\OVPARKTERM" /EventExecute "Global\\OVPARKEXEC"'
STOP_PARAMETERS = '/EventTerminate "Global\\OVPARKTERM" /SignalTerminate'

# Where the updater expects the games client (ProgramFiles(x86) of the 64-bit prefix).
CLIENT_WINDOWS_PATH = "C:\\Program Files (x86)\\Orvane Games\\App\\PlayDock-ov.exe"
CLIENT_HOST_PATH = PREFIX / "drive_c" / "Program Files (x86)" / "Orvane Games" / "App" / "PlayDock-ov.exe"
CLIENT_SECONDS = 20  # the parking program restarts the client well within this after the run
PARK_SECONDS = 30  # a Park.exe that has not reached its wait by then has failed

# The upload thread that a run starts at once finds nothing to send, waits one second and ends; an event
# queued in that second is left for the next run. Answering the query later keeps a run's outcome at its run.
QUERY_ANSWER_DELAY_S = 1.5


def offer_installer(updater, data: bytes, path: str = "/setup.exe"):
    """Hosts data on the harness's file server and has the update service offer it, answering each query
    after QUERY_ANSWER_DELAY_S."""
    installer = updater.host(path, data)
    updater.offer(installer, delay=QUERY_ANSWER_DELAY_S)
    return installer


def launch_parameters(locale: str, app_args: str = "", dp: str = "fablewick") -> str:
    """What the client is restarted with: the text between the quotes after "/LaunchParams"."""
    return "/noupdate! /userlocale " + locale + (" " + app_args if app_args else PARTNER_PART + dp)


def parking_parameters(client: str, locale: str, app_args: str = "", dp: str = "fablewick") -> str:
    tail = " " + app_args if app_args else PARTNER_PART + dp
    return EXECUTE_PREFIX + client + LAUNCH_PART + locale + tail + EVENTS_PART


def shell_command_line(windows_file: str, parameters: str) -> str:
    """The command line a program started by ShellExecuteExW with these parameters receives."""
    return '"' + windows_file + '" ' + parameters


def installer_record_folder() -> Path:
    return PREFIX / "drive_c" / "ProgramData" / "OrvaneTest"


def clear_invocations() -> None:
    """Forgets every recorded start and progress record of tools/TestInstaller, and its settings."""
    for name in ("invocations.txt", "progress.txt", "installer.ini", "processes.txt"):
        (installer_record_folder() / name).unlink(missing_ok=True)


def _records(name: str) -> List[List[str]]:
    return [line.split("\t") for line in log_lines(installer_record_folder() / name) if line]


def invocations(role: Optional[str] = None) -> List[Tuple[str, str, str]]:
    """(role, process id, command line) of each start tools/TestInstaller recorded, in order; only `role`
    ("installer", or "client" for the stand-in client) when given."""
    records = [tuple(line.split("\t", 2)) for line in
               log_lines(installer_record_folder() / "invocations.txt") if line]
    return [r for r in records if role is None or r[0] == role]


def set_test_installer(*, steps: int = 4, step_ms: int = 150, exit_code: int = 0, signal_park: bool = True) -> None:
    """How tools/TestInstaller behaves as installer: progress steps written to "Install", the pause after
    each, its exit code, and whether it sets the parking program's execute event at its end."""
    folder = installer_record_folder()
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "installer.ini").write_text(f"[installer]\r\nSteps={steps}\r\nStepMs={step_ms}\r\n"
                                          f"ExitCode={exit_code}\r\nSignalPark={int(signal_park)}\r\n")


def progress_records() -> List[Tuple[float, int]]:
    """(percent the installer wrote, position of the updater's progress bar a step later), in order."""
    return [(float(percent), int(position)) for percent, position in _records("progress.txt")]


def processes() -> List[Tuple[int, bool, str, bool]]:
    """(pid, elevated, own image path, planted DLL loaded) of each start of tools/TestInstaller as installer."""
    return [(int(pid), elevated == "1", image, planted == "1") for pid, elevated, image, planted in
            _records("processes.txt")]


def wait_for_invocations(role: str, count: int = 1, timeout_s: float = CLIENT_SECONDS):
    if not wait_until(lambda: len(invocations(role)) >= count, timeout_s):
        raise TimeoutError(f"{count} start(s) as {role} expected within {timeout_s} s; recorded: {invocations()}")
    return invocations(role)


_GUID = r"[0-9a-f]{8}(?:-[0-9a-f]{4}){3}-[0-9a-f]{12}"


def started_installer(installer_line: str, download_folder: Path, installer_args: str = "", *,
                      protected: bool = True) -> str:
    """Checks the installer's exact command line and returns the parking copy it was told about. An elevated
    start (the updater's own, or the elevation service's) runs the installer and the parking copy side by
    side from a protected folder of their own; a limited updater's own start runs them from the download
    folder, where "/park=" has a doubled backslash (the folder ends with one already)."""
    if protected:
        folder = re.escape(windows_path_in_prefix(PROTECTED_FOLDER) + "\\") + r"\{" + _GUID + r"\}\\"
        pattern = '"(' + folder + r')setup\.exe" /park="(\1Park-\{' + _GUID + r'\}\.exe)"'
    else:
        pattern = ('"(' + re.escape(windows_path_in_prefix(download_folder) + "\\") + r')setup\.exe" '
                   r'/park="(\1\\Park-\{' + _GUID + r'\}\.exe)"')
    match = re.fullmatch(pattern + (re.escape(" " + installer_args) if installer_args else ""), installer_line)
    assert match, installer_line
    return match.group(2)


@contextlib.contextmanager
def stand_in_client(host_path: Path = CLIENT_HOST_PATH):
    """tools/TestInstaller copied as "PlayDock-ov.exe" to host_path (by default the client's path in the
    prefix) for the length of the block."""
    host_path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(TEST_INSTALLER, host_path)
    try:
        yield host_path
    finally:
        host_path.unlink(missing_ok=True)


@contextlib.contextmanager
def planted_dll(folder: Path):
    """A real DLL named OvPlanted.dll (which tools/TestInstaller tries to load) placed in folder."""
    planted = folder / "OvPlanted.dll"
    shutil.copyfile(PREFIX / "drive_c" / "windows" / "system32" / "version.dll", planted)
    try:
        yield planted
    finally:
        planted.unlink(missing_ok=True)


def signed_park(updater) -> None:
    """Signs the Park.exe beside Updater.exe with the maker's test certificate, as a release is: the
    elevation service starts nothing that the maker has not signed, the parking program included. A
    release's own programs are signed already."""
    if SHIPPED:
        return
    signed = updater.work / "Park-signed.exe"
    pki.sign_pe(BUILD / "Park" / "Park.exe", signed, updater.codesign.leaf("orvane-inc"))
    shutil.copyfile(signed, PARK)


@contextlib.contextmanager
def handing_off_with_client(updater):
    """The harness with a signed installer on offer, a signed Park.exe, the stand-in client at the client's
    path, and no parking program nor installer record left over from before (nor after the block)."""
    signed_park(updater)
    stop_waiting_parks()
    clear_invocations()
    offer_installer(updater, updater.signed_installer())
    try:
        with stand_in_client():
            yield updater
    finally:
        stop_waiting_parks()
        clear_invocations()


def stop_waiting_parks() -> None:
    """Ends any Park.exe still waiting on the real events (left by an earlier run), as the updater would:
    a Park.exe with the stop parameters."""
    marker = f"/Test{uuid.uuid4().hex}"
    done = run_windows_program(PARK, STOP_PARAMETERS + " " + marker, timeout_s=PARK_SECONDS)
    assert (done.exit_code, done.timed_out) == (0, False), done.stdout
    if any(text.startswith("signalled ") for _, text in park_log_entries(marker)):
        time.sleep(1)  # the signalled events live on until every waiting Park.exe has closed them


class BackgroundProgram:
    """A Windows program started through tools/Launch with an exact command line, not waited for."""

    def __init__(self, exe: Path, command_line_tail: str, timeout_s: float, output: Path):
        args, env = launch_arguments(exe, command_line_tail, timeout_s)
        self.output = output
        self.process = start_tool(LAUNCH, *args, env=env, output=output)

    def running(self) -> bool:
        return self.process.poll() is None

    def finish(self, timeout_s: float) -> Optional[int]:
        """The program's exit code; None when it had to be ended at its time limit."""
        try:
            self.process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            self.stop()
            raise AssertionError(f"{self.output.name}: still running after {timeout_s} s")
        exit_code, timed_out = launch_result(self.output.read_bytes().decode("utf-8", "replace"))
        if exit_code is None and not timed_out:
            raise RuntimeError(f"Launch.exe failed: {self.process.returncode} {log_lines(self.output)}")
        return exit_code

    def stop(self) -> None:
        if self.running():
            self.process.kill()
            self.process.wait(timeout=30)


SERVICE_CLASS_KEY = r"HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{3540DE9F-C4F7-4A44-B371-369C08D0A5B0}"
SERVICE_NAME = "OrvaneElevationService"
MISSING_SERVER = "C:\\Orvane Missing\\ElevationService.exe"


def service_server() -> Optional[str]:
    """The service class's LocalServer32 command, None when the class is not registered."""
    return query_registry_value(SERVICE_CLASS_KEY + "\\LocalServer32", None)


def set_service_state(state: str) -> None:
    """"registered": the real service installed (ElevationService.exe /Install); "missing": nothing of it;
    "broken": the class registered, but its service is gone and LocalServer32 names a missing program."""
    done = run_tool(ELEVATION_SERVICE, "/Uninstall" if state == "missing" else "/Install")
    if done.returncode == 0 and state == "broken":
        done = run_tool("sc", "delete", SERVICE_NAME)
        if done.returncode == 0:
            done = run_tool("reg", "add", SERVICE_CLASS_KEY + "\\LocalServer32", "/ve", "/d",
                            '"' + MISSING_SERVER + '"', "/f")
    assert done.returncode == 0, f"service {state}: {done.describe()}"
    # A reg query now and then reads nothing under a loaded machine (seen once in CI right after a
    # service instance of the test ended): ask again before calling the state wrong.
    assert wait_until(lambda: (service_server() is None) == (state == "missing"), 3, 0.5), \
        f"service {state} not in the registry"


@contextlib.contextmanager
def elevation_service(state: str):
    """The elevation service in this state for the length of the block, then as it was before."""
    was_registered = service_server() is not None
    set_service_state(state)
    try:
        yield
    finally:
        set_service_state("registered" if was_registered else "missing")


# --- the download engine alone: tools/DownloadDriver and its state files ----------------------------------

BLOCK = 65536  # the engine writes and records its progress in blocks of this size
FIRST_REQUEST_LENGTH = 20 * 1024 * 1024 + 1


@dataclass
class DriverResult:
    exit_code: int
    lines: list
    elapsed_s: float
    finished: dict = field(default_factory=dict)  # job index -> size
    failed: dict = field(default_factory=dict)  # job index -> description
    hung: list = field(default_factory=list)
    stopped: dict = field(default_factory=dict)  # job index -> ms the release took
    callbacks: dict = field(default_factory=dict)  # job index -> (calls, calls with a failed status)
    peak_memory: int | None = None
    engine_ms: int | None = None

    @property
    def output(self):
        return "\n".join(self.lines)


def driver_arguments(url=None, target=None, *, batch=None, parallel=None, retries=None, timeout_ms=2000,
                     deadline_ms=60000, progress=False, stop_after_ms=None, max_size=None, stall_window_ms=None):
    args = ["--url", url, "--target", windows_path(target)] if url is not None else []
    options = {"--batch": batch and windows_path(batch), "--parallel": parallel, "--retries": retries,
               "--timeout-ms": timeout_ms, "--deadline-ms": deadline_ms, "--stop-after-ms": stop_after_ms,
               "--max-size": max_size, "--stall-window-ms": stall_window_ms}
    for name, value in options.items():
        if value is not None:
            args += [name, str(value)]
    return args + (["--progress"] if progress else [])


def parse_output(text, exit_code, elapsed_s):
    result = DriverResult(exit_code=exit_code, lines=[l.rstrip("\r") for l in text.splitlines()], elapsed_s=elapsed_s)
    for line in result.lines:
        word, _, rest = line.partition(" ")
        if word in ("finished", "failed", "stopped"):
            index, _, value = rest.partition(" ")
            getattr(result, word)[int(index)] = value if word == "failed" else int(value)
        elif word == "hung":
            result.hung.append(int(rest))
        elif word == "callbacks":
            index, calls, failed = rest.split()
            result.callbacks[int(index)] = (int(calls), int(failed))
        elif word == "peak-memory":
            result.peak_memory = int(rest)
        elif word == "elapsed-ms":
            result.engine_ms = int(rest)
    return result


def run_driver(url=None, target=None, *, timeout_s=120, **options):
    """Runs tools/DownloadDriver to its end and returns what it printed."""
    done = run_tool(DRIVER, *driver_arguments(url, target, **options), timeout=timeout_s)
    return parse_output(done.output, done.returncode, done.seconds)


def start_driver(url, target, **options):
    """Starts the driver and returns the process (stdout piped, text), for tests that kill it."""
    return subprocess.Popen(["wine", str(DRIVER), *driver_arguments(url, target, **options)], env=wine_environment(),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def kill(process):
    """Kills the engine's process the hard way (as TerminateProcess would): no clean-up runs."""
    process.kill()
    process.wait(timeout=30)
    if process.stdout:
        process.stdout.close()


def download_state_bytes(size, threads, version=2):
    body = struct.pack("<3I", version, size, threads)
    return body + struct.pack("<I", zlib.crc32(body))


def stream_state_bytes(index, offset, size, threads, last_modified="UNKNOWN", version=1):
    text = last_modified.encode("latin-1")[:49]
    body = struct.pack("<5I", version, index, offset, size, threads) + text.ljust(50, b"\0") + b"\0\0"
    return body + struct.pack("<I", zlib.crc32(body))


def read_stream_state(target, index):
    data = Path(f"{target}.{index}").read_bytes()
    version, stream_index, offset, size, threads = struct.unpack("<5I", data[:20])
    (checksum,) = struct.unpack("<I", data[72:76])
    assert checksum == zlib.crc32(data[:72])
    return {"Version": version, "StreamIndex": stream_index, "Offset": offset, "DownloadSize": size,
            "ThreadsUsed": threads, "LastModified": data[20:70].split(b"\0")[0].decode("latin-1")}


def stream_ranges(size, threads):
    """(first, last) of each stream, as the engine splits a file: in halves, but the first of two streams of
    a file above the first request's length keeps at least that request's bytes."""
    if threads == 1:
        return [(0, size - 1)]
    split = size // 2
    if size > FIRST_REQUEST_LENGTH:
        split = max(split, FIRST_REQUEST_LENGTH)
    return [(0, split - 1), (split, size - 1)]


def recorded_offsets(target, size, threads):
    """Where each stream will resume: its recorded offset, or its first byte without a record."""
    offsets = []
    for index, (first, _) in enumerate(stream_ranges(size, threads)):
        try:
            state = read_stream_state(target, index)
        except FileNotFoundError:
            offsets.append(first)
            continue
        assert state["ThreadsUsed"] == threads and state["DownloadSize"] == size
        offsets.append(state["Offset"])
    return offsets


def padded_pe(work: Path, size: int) -> Path:
    """The test installer with an overlay of random bytes that brings it to about `size` bytes once signed
    (the overlay lies inside what the signature covers)."""
    path = work / f"padded-{size}.exe"
    if not path.exists():
        base = TEST_INSTALLER.read_bytes()
        with open(path, "wb") as out:
            out.write(base)
            remaining = max(0, size - len(base) - 16384)
            while remaining:
                block = min(remaining, 1 << 24)
                out.write(os.urandom(block))
                remaining -= block
    return path


def correct_extent(cache, source, first, last):
    """How far from `first` the cache file holds the source's bytes (the end of the correct run)."""
    with open(cache, "rb") as f:
        f.seek(first)
        held = f.read(last + 1 - first)
    expected = source[first:last + 1]
    n, step = 0, 4096
    while n < len(held) and held[n:n + step] == expected[n:n + step]:
        n += step
    while n < len(held) and held[n] == expected[n]:
        n += 1
    return first + min(n, len(held))


def folder_listing(folder):
    return sorted(os.listdir(folder))
