"""Installs what is missing and builds both presets, as scripts/test.sh does, so that a benchmark is one
command from a clean clone and never measures a stale build (an up-to-date build takes seconds). It runs
before the test support is imported, which needs the packages that the set-up installs."""

import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent


def prepare_build() -> None:
    for script in ("setup.sh", "build.sh"):
        subprocess.run([str(ROOT / "scripts" / script)], check=True, stdout=sys.stderr)
