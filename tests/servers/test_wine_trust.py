"""The root-store .reg file makes Wine trust the test CA (and only it).

Runs in the project's test prefix. The trust check goes through Wine's own HTTPS stacks from
JScript under cscript: WinHttp, and MSXML's XMLHTTP, which goes through urlmon and WinInet.
"""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

from pki import import_into_prefix, reg_query_blob, serialized_certificate
from testservers import FileServer

pytestmark = [
    pytest.mark.wine,
    pytest.mark.skipif(shutil.which("wine") is None or shutil.which("wineserver") is None,
                       reason="wine is not installed"),
]

PROBE = r"""
var url = WScript.Arguments(0), kind = WScript.Arguments(1);
try {
  var request = new ActiveXObject(kind);
  request.open("GET", url, false);
  request.send();
  WScript.Echo("status=" + request.status + " body=" + request.responseText);
} catch (e) {
  WScript.Echo("error=" + (e.number >>> 0).toString(16));
}
"""

ROOT = Path(__file__).resolve().parents[2]
PREFIX = Path(os.environ.get("OV_WINEPREFIX", os.environ.get("WINEPREFIX", ROOT / "build" / "wineprefix")))


@pytest.fixture(scope="module")
def prefix():
    # The project's test prefix, made by the test script: a throwaway prefix cost ~10 s and its
    # wineboot failed now and then on a loaded machine. The foreign CA of this test is new, so
    # the prefix cannot already trust it.
    if not (PREFIX / "system.reg").is_file():
        pytest.skip("the test Wine prefix has not been made (scripts/test.sh makes it)")
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower() and k != "DISPLAY"}
    env.update(WINEPREFIX=str(PREFIX), WINEDEBUG="-all", WINEARCH="win64")
    return PREFIX, env


def wine(env, *args):
    done = subprocess.run(["wine", *args], env=env, capture_output=True, text=True, timeout=60)
    return done.stdout


def probe(env, script, url, kind):
    return wine(env, "cscript", "//nologo", "Z:" + str(script), url, kind).strip()


def test_imported_root_is_written_as_intended_and_trusted(prefix, tls_pki, tmp_path):
    folder, env = prefix
    import_into_prefix(folder, tls_pki.ca)
    key = rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{tls_pki.ca.thumbprint}"
    assert reg_query_blob(wine(env, "reg", "query", key, "/v", "Blob")) == serialized_certificate(tls_pki.ca)

    script = tmp_path / "probe.js"
    script.write_text(PROBE)
    with FileServer({"/t": b"trusted"}, tls=tls_pki.server, lifetime=60) as good, \
            FileServer({"/t": b"foreign"}, tls=tls_pki.other_server, lifetime=60) as foreign:
        for kind in ("WinHttp.WinHttpRequest.5.1", "Msxml2.XMLHTTP.3.0"):
            assert probe(env, script, good.url("/t"), kind) == "status=200 body=trusted"
            assert probe(env, script, foreign.url("/t"), kind).startswith("error=")
