#!/usr/bin/python3
"""Deliberate faults, each a one-place change of the product, and whether the tests that should catch it do.

Usage: tests/faults/run.py [NAME ...]   (all faults when none is named; the build must be set up)

For each fault: apply it, build the test build, run its unit suites (CTest regex) and end-to-end tests
(pytest node ids), print "caught" when any of them fails and "MISSED" when all pass, undo it. The tree is
rebuilt as it was at the end. Exit code 1 when a fault was missed or could not be applied.
"""

import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

# name: (file, text, faulty text, ctest regex or None, pytest node ids)
FAULTS = {
    "range request one byte long": (
        "System/Net/MultiStreamDownload/DownloadThreadConnection.cpp",
        '"-" + std::to_string(m_LastByte) + "\\r\\n"', '"-" + std::to_string(m_LastByte + 1) + "\\r\\n"', "HTTPDownload", ["tests/e2e/download/test_download_engine.py"]),
    "wrong exit code for a second run": (
        "Updater/RunOutcome.h", "X(FailureMainMutex, 0x102)", "X(FailureMainMutex, 0x10F)", None,
        ["tests/e2e/test_run_quiet_ends.py"]),
    "signer chain not checked": (
        "Updater/Trust/FileSignature.cpp", " &&\n               IsSignerChainTrusted(signer.Get(), message)", "",
        None, ["tests/e2e/test_trust.py"]),
    "prompt shows the notice's text": (
        "Updater/UpdateRun.cpp", "LoadString(IDS_PROMPT_TEXT)", "LoadString(IDS_NOTIFY_TEXT)", None,
        ["tests/e2e/test_run_prompts.py"]),
    "queue record lost": (
        "Analytics/QueueFile.cpp", "return size >= 0 && WriteAt(", "return size >= 0 && size < 0 && WriteAt(",
        "Queue|Analytics", ["tests/e2e/test_analytics_queue.py"]),
    "state file offset off by one": (
        "System/Net/MultiStreamDownload/ProgressFile.cpp", "PutUint32(bytes + 8, Offset)",
        "PutUint32(bytes + 8, Offset + 1)", "DownloadState", ["tests/e2e/download/test_download_resume.py"]),
    "wrong decision event name": (
        "Updater/UpdateRun.cpp", 'L"-UpdateYes-"', 'L"-UpdateYess-"', None,
        ["tests/e2e/test_handoff_outcomes.py::test_installer_exit_code_is_reported_and_the_run_still_succeeds"]),
    "/park= without its closing quote": (
        "Updater/InstallerHandOff.cpp", 'L"/park=\\"" + parkingCopy + L"\\""', 'L"/park=\\"" + parkingCopy',
        "HandOff", ["tests/e2e/test_handoff_road.py"]),
    "announced hash compared with case": (
        "Updater/Trust/FileHash.cpp", "if (std::toupper(static_cast<unsigned char>(computed[i])) !=\n"
        "            std::toupper(static_cast<unsigned char>(announced[i])))",
        "if (computed[i] != announced[i])", "Sha256|HashText",
        ["tests/e2e/test_run_download.py::test_announced_hash_is_compared_without_case"]),
    "product with a backslash accepted": (
        "Updater/UpdateRun.cpp", 'std::wcschr(L"\\\\/:*?\\"<>|", c)', 'std::wcschr(L"/:*?\\"<>|", c)', None,
        ["tests/e2e/test_run_quiet_ends.py"]),
    "service trusts the named process id": (
        "ElevationService/CallerCheck.cpp", "if (callingProcessId != namedProcessId)", "if (callingProcessId == 0)",
        None, ["tests/e2e/test_elevation_service.py"]),
    "data after the signature accepted": (
        "Updater/Trust/FileSignature.cpp", "!HasNothingButSignaturesInTable(file.Handle())", "false", None,
        ["tests/e2e/test_trust.py"]),
    "installer released before its start": (
        "Updater/InstallerHandOff.cpp", "    const std::wstring source = FindParkingProgram(request.parkPath);",
        "    request.heldInstaller.Release();\n    const std::wstring source = FindParkingProgram(request.parkPath);",
        None, ["tests/e2e/test_handoff_outcomes.py::test_installer_replaced_between_its_checks_and_its_start_never_runs"]),
    "partial download deleted at the start": (
        "Updater/DownloadTarget.cpp", "const std::wstring kept = FindResumableDownload(folder, now);",
        "const std::wstring kept;", "DownloadFolder", ["tests/e2e/test_run_interrupted_download.py"]),
    "partial download resumed for another address": (
        "System/Net/MultiStreamDownload/HTTPDownload.cpp", "!origin.Read() || origin.Identity != m_Identity",
        "!origin.Read()", None, ["tests/e2e/test_run_interrupted_download.py"]),
    "analytics event misnamed": (
        "Analytics/AnalyticsReporter.cpp", 'kEventName[] = L"Update"', 'kEventName[] = L"Updates"', None,
        ["tests/e2e/test_run_quiet_ends.py"]),
}


def run(command, **options) -> int:
    return subprocess.run(command, cwd=ROOT, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, **options).returncode


def build() -> bool:
    return run(["cmake", "--build", "--preset", "mingw-x64", "-j2"]) == 0


def check(name: str) -> str:
    file, text, faulty, ctest, nodes = FAULTS[name]
    path = ROOT / file
    original = path.read_text()
    if original.count(text) != 1:
        return "not applicable (the text is not there once)"
    path.write_text(original.replace(text, faulty))
    try:
        if not build():
            return "not applicable (does not build)"
        failed = []
        if ctest and run(["ctest", "--preset", "mingw-x64", "-R", ctest]) != 0:
            failed.append("unit")
        if nodes and run(["/usr/bin/python3", "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", *nodes]) != 0:
            failed.append("e2e")
        return "caught (" + ", ".join(failed) + ")" if failed else "MISSED"
    finally:
        path.write_text(original)


def main() -> int:
    names = sys.argv[1:] or list(FAULTS)
    run([str(ROOT / "scripts" / "wine-session.sh"), "start"])
    results = {}
    try:
        for name in names:
            results[name] = check(name)
            print(f"{name}: {results[name]}", flush=True)
    finally:
        build()
    return 0 if all(result.startswith("caught") for result in results.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
