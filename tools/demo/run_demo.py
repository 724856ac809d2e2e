"""One successful update, start to end, under the project's Wine prefix and against the bundled loopback
servers: the update service offers a test-signed installer on the file server, the updater (started
unelevated, the way a user starts it) downloads and checks it, hands it to the installer through the
elevation service, mirrors its progress, lets the parking program restart the client and reports the
outcome to the GA4 sink. Prints a short summary of each stage; exits 0 when the whole road was taken.
"""

import contextlib
import os
import sys
import tempfile
import textwrap
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tools"))

import pki  # noqa: E402
from harness import (CLIENT_WINDOWS_PATH, UpdaterHarness, clear_invocations, distrust_roots,  # noqa: E402
                     elevation_service, invocations, offer_installer, park_log_entries, progress_records,
                     service_server, set_test_installer, signed_park, stand_in_client, stop_waiting_parks,
                     trust_roots, wait_for_invocations, windows_path_in_prefix)
from testservers import CrlServer  # noqa: E402

PRODUCT = "TesselAGGamesApp"
ARGUMENTS = [f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US"]


def stage(name, text):
    print(textwrap.fill(text, width=118, initial_indent=f"  {name:<11} ", subsequent_indent=" " * 16,
                        break_long_words=True, break_on_hyphens=False))


def shorten(text, limit=150):
    return text if len(text) <= limit else text[:limit - 3] + "..."


def signers_pki_trusted():
    """The PKI that signed the shipped programs (OV_SIGNERS_PKI, a folder made by `python3 -m pki codesign`
    with its CRL port in crl-port) trusted for the length of the road: the elevation service starts only a
    parking program whose signer chains to a trusted root."""
    folder = os.environ.get("OV_SIGNERS_PKI")
    if not folder:
        return contextlib.nullcontext()
    from release.check_trust import release_pki_trusted
    return release_pki_trusted(Path(folder))


def main():
    with tempfile.TemporaryDirectory(prefix="ov-demo-") as folder, signers_pki_trusted():
        work = Path(folder)
        with CrlServer(work / "crl", lifetime=600) as crl:
            tls = pki.make_tls_pki(work / "tls")
            codesign = pki.make_codesign_pki(work / "codesign", crl.port, crl_folder=crl.root)
            trust_roots(tls.ca, codesign.root)
            try:
                return demo(work, tls, codesign, crl)
            finally:
                distrust_roots(tls.ca, codesign.root)


def demo(work, tls, codesign, crl):
    harness = UpdaterHarness(work, tls, lambda: codesign, product=PRODUCT)
    try:
        stop_waiting_parks()
        clear_invocations()
        signed_park(harness)  # the service starts nothing the maker has not signed, Park.exe included
        installer = offer_installer(harness, harness.signed_installer("orvane-inc"), "/OrvaneSetup.exe")
        set_test_installer(steps=4, step_ms=600)

        print("Orvane updater: one update from query to client restart")
        stage("servers", f"update service {harness.service.url('/v1/client-updates/')}, "
                         f"files {harness.files.url('/')}, GA4 sink {harness.sink.url('/g/collect')}, "
                         f"CRLs http://127.0.0.1:{crl.port}/")
        stage("installer", f"tools/TestInstaller signed by \"{codesign.leaf('orvane-inc').organisation}\" "
                           f"(test PKI), {installer.size} bytes, SHA-256 {installer.hash[:16]}...")
        with elevation_service("registered"), stand_in_client():
            stage("service", f"elevation service registered: {service_server()}")
            stage("client", f"stand-in client at {CLIENT_WINDOWS_PATH}")
            stage("start", "Updater.exe " + harness.command_line(ARGUMENTS, PRODUCT) + " (unelevated)")
            run = harness.run(*ARGUMENTS, unelevated=True)
            ok = report(harness, run, installer)
        stop_waiting_parks()
        return 0 if ok else 1
    finally:
        clear_invocations()
        harness.close()


def report(harness, run, installer):
    query = run.queries[0] if run.queries else None
    if query is not None:
        stage("query", f"GET {shorten(query.target, 110)} -> {query.status}: offer {installer.url}")
    ranges = [r.range or "whole file" for r in run.file_requests]
    stage("download", f"{len(run.file_requests)} request(s) ({', '.join(ranges)}), "
                      f"{sum(r.bytes_sent or 0 for r in run.file_requests)} bytes -> {run.download_folder.name}"
                      f"\\{Path(installer.path).name}")
    checked = [r for r in run.results if r and r.startswith("Patch")]
    stage("checks", "size, SHA-256 and signer passed" if not checked else f"failed: {checked}")
    stage("decision", f"events set: {', '.join(run.events or []) or 'none'}")

    installers = invocations("installer")
    copies = [name for name in run.download_files if name.startswith("Park-")]
    copy = windows_path_in_prefix(run.download_folder) + "\\\\" + copies[0] if copies else None
    if installers and copy is not None:
        park_start = next((t for _, t in park_log_entries(copy) if t.startswith("started: ")), None)
        stage("parking", "copy of Park.exe started: " + park_start[len("started: "):] if park_start else
              "the parking copy was not started")
        service_failures = [r for r in run.results if r and r.startswith("Service")]
        how = "through the elevation service" if not service_failures else f"directly after {service_failures}"
        stage("installer", f"started {how} from a protected copy: {installers[0][2]}")
    records = progress_records()
    stage("progress", ", ".join(f"Install {p:g} -> bar {pos}" for p, pos in records) or "none seen")
    results = run.results
    stage("analytics", f"{len(run.hits)} hit(s) at the sink, {len(run.queued)} left queued for the next run, "
                       f"ep.result: {', '.join(map(str, results)) or 'none'}")
    try:
        client = wait_for_invocations("client", timeout_s=20)[0][2]
        stage("restart", "Park.exe restarted the client: " + client)
    except TimeoutError:
        client = None
        stage("restart", "the client was not restarted")
    stage("exit code", f"{run.exit_code}")

    ok = (run.exit_code == 0 and results == ["Succeeded"] and run.events == ["UpdateYes"] and len(installers) == 1
          and client is not None)
    print("the whole road was taken" if ok else "the road was NOT taken: " + run.describe())
    return ok


if __name__ == "__main__":
    sys.exit(main())
