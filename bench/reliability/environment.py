"""What the reliability suite and the performance report share: the loopback servers, the test PKIs
trusted in the prefix and the run harness of the end-to-end tests (tests/e2e/harness.py, reused, not
copied), the classification of a run's end, a listing of drive_c, and a plain table printer."""

from __future__ import annotations

import errno
import os
import subprocess
import sys
import tempfile
import time
import uuid
from pathlib import Path
from types import SimpleNamespace

ROOT = Path(__file__).resolve().parent.parent.parent
for folder in (ROOT / "tools", ROOT / "tests" / "e2e"):
    if str(folder) not in sys.path:
        sys.path.insert(0, str(folder))

import pki  # noqa: E402
from harness import (BUILD, PREFIX, TEST_INSTALLER, UPDATER, UpdaterHarness, clear_invocations,  # noqa: E402
                     distrust_roots, installer_record_folder, invocations, set_test_installer, trust_roots)
from testservers import CrlServer  # noqa: E402

# Exit codes the README's table documents (the outcomes a run may end with).
DOCUMENTED_EXIT_CODES = {0, 2, 3, 4, 256, 257, 258, 259, 260, 261, 768, 770, 771, 772, 773, 1024, 1025, 1027,
                         1280, 1281, 1792, 1793, 1794}
# Every bench run hands off without the parking program, which would stay behind waiting on its events.
RUN_ARGUMENTS = ("/noparking",)
PORT_WAIT_SECONDS = 1800


def is_crash(exit_code) -> bool:
    """An exit code that is an NTSTATUS error or a breakpoint (access violation 0xC0000005, stack overflow
    0xC00000FD, heap corruption 0xC0000374, 0x80000003...), not an outcome of the program."""
    return exit_code is not None and (exit_code & 0xC0000000 == 0xC0000000 or exit_code == 0x80000003)


def check_build() -> None:
    for program in (UPDATER, TEST_INSTALLER, BUILD / "tools" / "Launch" / "Launch.exe"):
        if not program.exists():
            raise SystemExit(f"{program} is missing: scripts/build.sh did not build it")


class Environment:
    """Servers, PKIs trusted in the prefix, the Wine session and one `UpdaterHarness` for a product of its
    own; `close()` takes everything down again."""

    def __init__(self, *, codesign: bool = True):
        check_build()
        self._temp = tempfile.TemporaryDirectory(prefix="ov-bench-")
        self.work = Path(self._temp.name)
        self._roots = []
        self.crl = None
        self.codesign = None
        subprocess.run([str(ROOT / "scripts" / "wine-session.sh"), "start"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=False)
        try:
            self.tls = pki.make_tls_pki(self._folder("tls"))
            self._trust(self.tls.ca)
            if codesign:
                self.crl = CrlServer(self._folder("crl"), lifetime=7200)
                self.codesign = pki.make_codesign_pki(self._folder("codesign"), self.crl.port,
                                                      crl_folder=self.crl.root)
                self._trust(self.codesign.root)
            self.product = f"Bench-{uuid.uuid4().hex[:8]}"
            self.harness = self._harness_when_ports_free()
        except BaseException:
            self.close()
            raise

    def _harness_when_ports_free(self) -> UpdaterHarness:
        """The harness, once the fixed loopback ports of the test build are free: every worktree's tests
        use the same ports, so a test run elsewhere on the machine makes the bench wait."""
        deadline = time.monotonic() + PORT_WAIT_SECONDS
        while True:
            try:
                return UpdaterHarness(self._folder("harness"), self.tls, lambda: self.codesign, self.product)
            except OSError as error:
                if error.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                    raise
                print("waiting for the test build's loopback ports (a test run is using them)", flush=True)
                time.sleep(10)

    def _folder(self, name: str) -> Path:
        path = self.work / name
        path.mkdir(parents=True, exist_ok=True)
        return path

    def _trust(self, certificate) -> None:
        trust_roots(certificate)
        self._roots.append(certificate)

    def close(self) -> None:
        harness = getattr(self, "harness", None)
        if harness is not None:
            harness.close()
        if self._roots:
            distrust_roots(*self._roots)
        if self.crl is not None:
            self.crl.stop()
        clear_invocations()
        subprocess.run([str(ROOT / "scripts" / "wine-session.sh"), "stop"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=False)
        self._temp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # a whole run of the updater
    def start_updater(self, *arguments: str, timeout_s: float = 120, **options):
        """Starts a run as `run_updater` does, without waiting for it (a `RunningUpdater` of the harness)."""
        clear_invocations()
        set_test_installer(steps=1, step_ms=0, signal_park=False)
        return self.harness.start(*RUN_ARGUMENTS, *arguments, watch_events=False, timeout_s=timeout_s, **options)

    def run_updater(self, *arguments: str, timeout_s: float = 120, **options):
        """One run of Updater.exe with the bench's arguments; the test installer's records cleared first, and
        the installer set to one quick progress step with no parking program to signal."""
        running = self.start_updater(*arguments, timeout_s=timeout_s, **options)
        try:
            return running.finish(allow_timeout=True)
        except subprocess.TimeoutExpired:
            # Not even the launcher ended: something of the run holds on. Counted as hung.
            running.kill()
            return SimpleNamespace(exit_code=None, timed_out=True, elapsed_s=time.monotonic() - running.started,
                                   download_files={}, file_requests=[], results=[], command_line=running.command_line)


def classify(run, installer: bytes) -> str:
    """How a whole run ended: "handed off" (exit 0, the test installer started, the file in the download
    folder is the installer byte for byte), "documented exit" (another code of the table, nothing
    started), or one of the failures "hung", "wrong file", "crash", "undocumented exit"."""
    started = invocations("installer")
    if run.timed_out:
        return "hung"
    if is_crash(run.exit_code):
        return "crash"
    correct = any(data == installer for data in run.download_files.values())
    if run.exit_code == 0:
        return "handed off" if started and correct else "wrong file"
    if started:
        return "wrong file"  # started, yet the run says it failed
    return "documented exit" if run.exit_code in DOCUMENTED_EXIT_CODES else "undocumented exit"


# --- drive_c listing ----------------------------------------------------------------------------------------

def _own_folders():
    """Folders of drive_c that belong to the program, its test tools, or Wine itself (Wine's own files,
    its URL and CRL caches and temporary files change on every run)."""
    drive = PREFIX / "drive_c"
    own = [drive / "windows", installer_record_folder()]
    users = drive / "users"
    if users.is_dir():
        for user in users.iterdir():
            own += [user / "AppData" / "Roaming" / "Orvane", user / "AppData" / "Local" / "Microsoft",
                    user / "AppData" / "LocalLow" / "Microsoft", user / "AppData" / "Local" / "Temp",
                    user / "Temp"]
    return own


def drive_listing() -> dict:
    """{path: (size, modification time)} of every file of drive_c outside the program's own folders."""
    drive = PREFIX / "drive_c"
    skip = {str(p) for p in _own_folders()}
    listing = {}
    for folder, subfolders, files in os.walk(drive):
        subfolders[:] = [s for s in subfolders if os.path.join(folder, s) not in skip]
        for name in files:
            path = os.path.join(folder, name)
            try:
                info = os.lstat(path)
            except OSError:
                continue
            listing[path] = (info.st_size, info.st_mtime_ns)
    return listing


def written_since(before: dict) -> list:
    """Files created or changed outside the program's folders since the listing `before`."""
    after = drive_listing()
    return sorted(path for path, stamp in after.items() if before.get(path) != stamp)


# --- output --------------------------------------------------------------------------------------------------

def print_table(header, rows) -> None:
    rows = [[str(cell) for cell in row] for row in rows]
    widths = [max(len(str(h)), *(len(r[i]) for r in rows)) if rows else len(str(h)) for i, h in enumerate(header)]
    print("| " + " | ".join(str(h).ljust(w) for h, w in zip(header, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
