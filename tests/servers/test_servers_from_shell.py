"""The servers and the PKI started from a shell, as non-Python test harnesses do."""

import json
import os
import subprocess
import sys

from .wire import TOOLS, exchange


def start(*args):
    env = dict(os.environ, PYTHONPATH=str(TOOLS))
    return subprocess.Popen([sys.executable, "-m", "testservers", *args], env=env, stdout=subprocess.PIPE,
                            text=True)


def test_file_server_from_the_command_line_logs_json_lines(tmp_path):
    (tmp_path / "a.bin").write_bytes(b"0123456789")
    log = tmp_path / "log.jsonl"
    proc = start("file", "--root", str(tmp_path), "--log", str(log), "--lifetime", "30",
                 "--faults", "[F.error(503)]")
    try:
        port = int(proc.stdout.readline().split()[1])
        assert exchange(port, "/a.bin").status == 503
        got = exchange(port, "/a.bin?k=v", headers=[("Range", "bytes=2-4")])
        assert (got.status, got.body) == (206, b"234")
    finally:
        proc.terminate()
        assert proc.wait(10) == 0
    lines = [json.loads(line) for line in log.read_text().splitlines()]
    assert [(r["status"], r["range"], r["params"]) for r in lines] == [(503, None, []),
                                                                       (206, "bytes=2-4", [["k", "v"]])]


def test_pki_command_line_makes_a_trust_file(tmp_path, tls_pki):
    env = dict(os.environ, PYTHONPATH=str(TOOLS))
    subprocess.run([sys.executable, "-m", "pki", "reg", str(tmp_path / "root.reg"), str(tls_pki.ca.cert)],
                   env=env, check=True, timeout=60)
    text = (tmp_path / "root.reg").read_text()
    assert tls_pki.ca.thumbprint in text
    assert '"Blob"=hex:20,00,00,00,01,00,00,00,' in text
