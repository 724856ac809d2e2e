"""The root-store .reg file makes Wine trust the test CA (and only it).

Runs in a throwaway prefix. The trust check goes through Wine's own HTTPS stacks from
JScript under cscript: WinHttp, and MSXML's XMLHTTP, which goes through urlmon and WinInet.
Deselect with `-m "not wine"` when time is short (a prefix takes ~10 s to create).
"""

import glob
import os
import shutil
import subprocess
import tempfile

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


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    folder = tmp_path_factory.mktemp("wine") / "prefix"
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower() and k != "DISPLAY"}
    env.update(WINEPREFIX=str(folder), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        subprocess.run(["wineboot", "-i"], env=env, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        yield folder, env
    finally:
        subprocess.run(["wineserver", "-k"], env=env, timeout=30, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        remove_server_folder(folder)
        shutil.rmtree(folder, ignore_errors=True)


def remove_server_folder(prefix):
    """Wine leaves the prefix's server socket folder, named after the prefix's device
    and inode, in a temporary folder of its own; remove just that one."""
    st = os.stat(prefix)
    name = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for parent in glob.glob(os.path.join(tempfile.gettempdir(), "*wine*")):
        if os.path.isdir(os.path.join(parent, name)):
            shutil.rmtree(os.path.join(parent, name), ignore_errors=True)
            if os.path.basename(parent).startswith("wine-") and not os.listdir(parent):
                os.rmdir(parent)


def wine(env, *args):
    done = subprocess.run(["wine", *args], env=env, capture_output=True, text=True, timeout=60)
    return done.stdout


def probe(env, script, url, kind):
    return wine(env, "cscript", "//nologo", "Z:" + str(script), url, kind).strip()


def test_imported_root_is_written_as_intended_and_trusted(prefix, tls_pki):
    folder, env = prefix
    import_into_prefix(folder, tls_pki.ca)
    key = rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{tls_pki.ca.thumbprint}"
    assert reg_query_blob(wine(env, "reg", "query", key, "/v", "Blob")) == serialized_certificate(tls_pki.ca)

    script = folder / "probe.js"
    script.write_text(PROBE)
    with FileServer({"/t": b"trusted"}, tls=tls_pki.server, lifetime=60) as good, \
            FileServer({"/t": b"foreign"}, tls=tls_pki.other_server, lifetime=60) as foreign:
        for kind in ("WinHttp.WinHttpRequest.5.1", "Msxml2.XMLHTTP.3.0"):
            assert probe(env, script, good.url("/t"), kind) == "status=200 body=trusted"
            assert probe(env, script, foreign.url("/t"), kind).startswith("error=")
