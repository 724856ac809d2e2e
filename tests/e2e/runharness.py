"""Runs the real Updater.exe under Wine against loopback servers and collects what the run did.

One `UpdaterHarness` per test (the `updater` fixture of conftest.py). It starts the update service and
the GA4 sink on the loopback ports that the x64 test build has compiled in (read from the build's CMake
cache, so they are written down once), a file server over HTTP and one over HTTPS for the installers,
sets the debugging values of the run and the consent cookie of the client's settings file, and for
each run starts tools/EventProbe, runs Updater.exe through tools/Launch with a time limit, and returns
an `UpdaterRun`: exit code, decision events in the order they were set, the analytics hits, the files
left in the download folder, the service's and the file servers' request logs, and the run log.
Everything it set up is taken down again when the test ends.
"""

from __future__ import annotations

import hashlib
import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import uuid
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Dict, List, Optional

import pki
from analytics_support import (consent_cookie, dump_queue, host_port, queue_path, remove_queue, serving,
                               settings_file, write_cookies)
from messageboxes import ANSWER_TOOL, AnsweredBox
from testservers import Answer, FileServer, Ga4Sink, UpdateService
from winehost import (BUILD, PREFIX, quote_argument, roaming_appdata, run_windows_program, shipped_program,
                      windows_path, wine_environment)

UPDATER = shipped_program("Updater.exe", BUILD / "Updater.exe")
EVENT_PROBE = BUILD / "tools" / "EventProbe" / "EventProbe.exe"
TEST_INSTALLER = BUILD / "tools" / "TestInstaller" / "TestInstaller.exe"

DEBUGGING_KEY = r"HKEY_LOCAL_MACHINE\Software\Orvane\Debugging"
INSTALLER_STATUS_KEY = r"HKEY_LOCAL_MACHINE\Software\Orvane\InstallerStatus"
ROOT_STORE_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\Root\Certificates"

# The window would only slow the runs down: it stays hidden unless a test asks for it.
DEFAULT_DEBUGGING = {"UseTestEnvironment": 1, "UpdaterPauseBeforeDialogMs": 600000, "UpdaterMinDialogShowTimeMs": 0}
FULL_CONSENT = consent_cookie(C0001=1, C0002=1, C0003=1)  # every cookie category

RUN_SECONDS = 60  # a run that takes longer has hung
DEFAULT_PRODUCT = "TesselAGGamesApp"  # the run's product without "/product="
TEST_PRODUCT = object()  # stands for the harness's own product in `start`
SERVER_LIFETIME = 1800


# --- files and registry of the prefix -------------------------------------------------------------------

def download_folder(product: str) -> Path:
    return roaming_appdata() / "Orvane" / "Updater" / product


def run_log_path(product: str) -> Path:
    return roaming_appdata() / "Orvane" / "Orvane Games" / "App" / "Update" / f"{product}_Update.log"


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
        done = subprocess.run(["wine", "reg", "import", "Z:" + str(path)], env=wine_environment(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if done.returncode != 0:
        raise RuntimeError(f"wine reg import failed: {done.stdout!r} {done.stderr[-500:]!r}")


def query_registry_value(key: str, name: str) -> Optional[str]:
    """The data of one value as `reg query` prints it, None when the key or value is missing."""
    done = subprocess.run(["wine", "reg", "query", key, "/v", name], env=wine_environment(),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        fields = line.strip().split(None, 2)
        if len(fields) >= 2 and fields[0] == name and fields[1].startswith("REG_"):
            return fields[2] if len(fields) == 3 else ""
    return None


def trust_roots(*certificates) -> None:
    """Makes the prefix trust these roots (idempotent: the store key is named by the thumbprint)."""
    pki.import_into_prefix(PREFIX, *certificates)


def distrust_roots(*certificates) -> None:
    import_registry({rf"{ROOT_STORE_KEY}\{pki.thumbprint(c)}": None for c in certificates})


# --- the event probe -------------------------------------------------------------------------------------

class EventProbe:
    """tools/EventProbe watching the decision events of one product for the length of a run."""

    def __init__(self, product: str, folder: Path, timeout_s: float):
        self.stop_name = f"OvEventProbeStop-{uuid.uuid4()}"
        self.output = folder / f"probe-{uuid.uuid4().hex[:8]}.txt"
        with open(self.output, "wb") as out:
            self.process = subprocess.Popen(
                ["wine", str(EVENT_PROBE), "watch", product, self.stop_name, str(int(timeout_s * 1000))],
                env=wine_environment(), stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while "ready" not in self._lines():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.process.kill()
                raise RuntimeError(f"EventProbe did not get ready: {self._lines()}")
            time.sleep(0.02)

    def _lines(self) -> List[str]:
        return [line.strip() for line in self.output.read_bytes().decode("utf-8", "replace").splitlines()]

    def stop(self) -> List[str]:
        """Stops the probe; returns the names of the events set, in order."""
        # Now and then Wine does not run a program it was asked to start (seen with a queue dump in CI, and
        # with this stop under a loaded machine): a watcher still running after a while is stopped again.
        for attempt in range(3):
            subprocess.run(["wine", str(EVENT_PROBE), "stop", self.stop_name], env=wine_environment(),
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
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


# --- message boxes -------------------------------------------------------------------------------------

class BoxAnswer:
    """tools/MessageBoxAnswer in the background, waiting for the run's message box (caption "Update") to
    answer it ("yes", "no", "ok"), or with "none" only to see whether one is shown. Unlike
    messageboxes.answer_message_box it does not hold the test up: it runs beside the updater and is ended
    when the run has ended without a box."""

    def __init__(self, answer: str, folder: Path, timeout_s: float, caption: str = "Update"):
        self.output = folder / f"box-{uuid.uuid4().hex[:8]}.txt"
        # Output to a file: Wine's desktop process may inherit it and would hold a pipe open.
        with open(self.output, "wb") as out:
            self.process = subprocess.Popen(
                ["wine", str(ANSWER_TOOL), "--caption", caption, "--answer", answer, "--timeout-ms",
                 str(int(timeout_s * 1000))], env=wine_environment({"LC_ALL": "C.UTF-8"}),
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)

    def result(self, wait_s: float = 2) -> Optional[AnsweredBox]:
        """The box that was shown (and answered); None when none was shown while the run lasted."""
        try:
            self.process.wait(timeout=wait_s)
        except subprocess.TimeoutExpired:
            self.process.kill()  # still looking: the run ended without a box
            self.process.wait(timeout=30)
            return None
        lines = self.output.read_bytes().decode("utf-8", "replace").splitlines()
        if self.process.returncode == 1 or not lines:
            return None
        if self.process.returncode != 0:
            raise RuntimeError(f"MessageBoxAnswer failed with {self.process.returncode}: {lines}")
        report = json.loads(lines[0])
        return AnsweredBox(found=True, exit_code=0, caption=report["caption"], text=report["text"],
                           buttons=tuple(report["buttons"]))


# --- one run ---------------------------------------------------------------------------------------------

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
    debug_lines: List[str] = field(default_factory=list)
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
                f"files {sorted(self.download_files)}, "
                f"{len(self.queries)} queries, {len(self.file_requests)} file requests, "
                f"{self.elapsed_s:.1f} s; log: {self.log_text[-1500:]!r}")


class RunningUpdater:
    """A run started in the background; `finish()` waits for it and collects the `UpdaterRun`."""

    def __init__(self, harness: "UpdaterHarness", command_line: str, product: Optional[str], watch_events: bool,
                 answer_box: Optional[str], timeout_s: float, env: Optional[dict], debug_output: bool):
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
                self._outcome["result"] = run_windows_program(UPDATER, command_line, timeout_s=timeout_s,
                                                              debug_output=debug_output, env=run_env)
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


_SIGNED: Dict[tuple, bytes] = {}
FIXED_PORT_WAIT_S = 600  # other test sessions of this machine use the same fixed ports in turn


# --- the harness -----------------------------------------------------------------------------------------

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
    def __init__(self, work: Path, tls_pki, codesign_pki_source: Callable[[], object], product: str):
        self.work = work
        self.tls = tls_pki
        self._codesign_source = codesign_pki_source
        self.product = product
        self._registry_keys: List[str] = []
        self._settings_backup: Optional[bytes] = None
        self._servers = []
        try:
            self._start_servers()
            self.set_debugging(DEFAULT_DEBUGGING)
            self.set_consent(FULL_CONSENT)
            self._clean_product_state()
            self._clean_test_installer_state()
        except BaseException:
            self.close()
            raise

    # set-up and tear-down
    def _start_servers(self) -> None:
        self.files = self._serve(FileServer(lifetime=SERVER_LIFETIME))
        self.files_tls = self._serve(FileServer(tls=self.tls.server, lifetime=SERVER_LIFETIME))
        self.service = self._serve(serving(lambda: UpdateService(
            port=host_port("OV_TEST_SERVICE_HOST"), tls=self.tls.server, lifetime=SERVER_LIFETIME),
            FIXED_PORT_WAIT_S))
        self.sink = self._serve(serving(lambda: Ga4Sink(
            port=host_port("OV_GA4_COLLECT_HOST"), tls=self.tls.server, lifetime=SERVER_LIFETIME),
            FIXED_PORT_WAIT_S))

    def _serve(self, server):
        self._servers.append(server)
        return server

    def close(self) -> None:
        for server in self._servers:
            server.stop()
        if self._registry_keys:
            import_registry({key: None for key in self._registry_keys})
        if self._settings_backup is not None:
            settings_file().write_bytes(self._settings_backup)
        elif settings_file().exists():
            settings_file().unlink()
        self._clean_product_state()
        self._clean_test_installer_state()

    @staticmethod
    def _clean_test_installer_state() -> None:
        import handoff  # it builds on this module

        handoff.clear_invocations()

    def _clean_product_state(self) -> None:
        shutil.rmtree(download_folder(self.product), ignore_errors=True)
        _remove_log(self.product)

    # what the run finds in the prefix
    def download_folder(self, product: Optional[str] = None) -> Path:
        return download_folder(product if product is not None else self.product)

    def set_registry(self, key: str, values: Optional[Dict[str, object]]) -> None:
        """Replaces a key of the prefix's registry by these values (None: removes it); removed at the end."""
        if key not in self._registry_keys:
            self._registry_keys.append(key)
        import_registry({key: values})

    def set_debugging(self, values: Dict[str, object]) -> None:
        self.set_registry(DEBUGGING_KEY, values)

    def set_consent(self, consent_cookie: Optional[str]) -> None:
        """Writes the client's settings file with this consent cookie (None: no settings file at all)."""
        path = settings_file()
        if self._settings_backup is None and path.exists():
            self._settings_backup = path.read_bytes()
        if consent_cookie is None:
            path.unlink(missing_ok=True)
        else:
            write_cookies(consent=consent_cookie)

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
        import handoff  # it builds on this module

        handoff.set_test_installer(steps=1, step_ms=50)
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
              debug_output: bool = False) -> RunningUpdater:
        """Starts Updater.exe with "/product=<the test's product>" and the arguments (each quoted as needed).
        `product` names another product ("" gives "/product=" with nothing after it, None no "/product=" at
        all); `raw` is the whole command line tail instead (then `product` only says which events to watch).
        `answer_box` ("yes", "no", "ok") answers the run's message box, "none" only notes whether one came.
        The product's run log and the analytics queue left by earlier runs are removed first."""
        if product is TEST_PRODUCT:
            product = self.product
        command_line = raw if raw is not None else self.command_line(arguments, product)
        _remove_log(product if product is not None else DEFAULT_PRODUCT)
        remove_queue()
        return RunningUpdater(self, command_line, product, watch_events, answer_box, timeout_s, env, debug_output)

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
        server = self._named_servers()[name]
        # Answers still going out when the process ended are finished by the server within moments.
        deadline = time.monotonic() + 5
        while any(r.finished is None for r in server.log.records()[marks[name]:]) and time.monotonic() < deadline:
            time.sleep(0.02)
        return server.log.records()[marks[name]:]

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
            debug_lines=result.debug_lines, stdout=result.stdout)
