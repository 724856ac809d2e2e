"""The updater's own trust check on signed release programs, under the project's Wine prefix.

Usage: check_trust.py PKI_FOLDER PROGRAM...

PKI_FOLDER is a code-signing test PKI made by `python3 -m pki codesign` whose CRL port is written in
PKI_FOLDER/crl-port. For the length of the check its root is trusted in the prefix and its CRLs are
served on that port; each program then goes through tools/TrustCheck of the x64 test build, which runs
the updater's signature, signer and CRL checks. Prints one line per program; exits 0 when every program
passed.
"""

import contextlib
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tools"))

import pki  # noqa: E402
from harness import BUILD, distrust_roots, trust_roots, windows_path, wine_environment  # noqa: E402
from testservers import CrlServer  # noqa: E402

TRUST_CHECK = BUILD / "tools" / "TrustCheck" / "TrustCheck.exe"


def trust_check(*args):
    # Output through files: Wine's background processes inherit pipes and would hold them open.
    with tempfile.TemporaryFile() as out:
        done = subprocess.run(["wine", str(TRUST_CHECK), *args], env=wine_environment(), stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.DEVNULL, timeout=120)
        out.seek(0)
        output = out.read().decode("ascii", "replace")
    if done.returncode != 0:
        raise RuntimeError(f"TrustCheck {' '.join(args)} ended with {done.returncode}: {output}")
    return dict(line.strip().partition(": ")[::2] for line in output.splitlines() if ": " in line)


@contextlib.contextmanager
def release_pki_trusted(folder: Path):
    """For its length: the root of the test PKI in `folder` trusted in the prefix, its CRLs served on the
    port written in folder/crl-port."""
    root = folder / "root.pem"
    with CrlServer(folder / "crl", port=int((folder / "crl-port").read_text()), lifetime=600):
        trust_roots(root)
        try:
            yield
        finally:
            distrust_roots(root)


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    passed = True
    with release_pki_trusted(Path(argv[0])):
        for program in map(Path, argv[1:]):
            signature = trust_check("signature", windows_path(program))
            chain = trust_check("chain", windows_path(program))
            ok = (signature.get("signed") == "true" and chain.get("crl-check") == "true"
                  and chain.get("chain-status") == "0x00000000")
            passed = passed and ok
            print(f"  {program.parent.name + '/' + program.name:<46} {'accepted' if ok else 'REFUSED'}: "
                  f"signed {signature.get('signed')}, "
                  f"maker signer {signature.get('maker-signer')}, chain status {chain.get('chain-status')}, "
                  f"CRLs clean {chain.get('crl-check')}")
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
