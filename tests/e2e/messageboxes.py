"""Answers the message boxes of a run with tools/MessageBoxAnswer, as a user would."""

import json
import subprocess
import tempfile
from dataclasses import dataclass

from winehost import BUILD, wine_environment

ANSWER_TOOL = BUILD / "tools" / "MessageBoxAnswer" / "MessageBoxAnswer.exe"


@dataclass
class AnsweredBox:
    found: bool
    exit_code: int
    caption: str = ""
    text: str = ""
    buttons: tuple = ()


def answer_message_box(caption, answer="none", timeout_s=20):
    """Waits up to timeout_s for a box with this caption, reports it and clicks `answer` (yes, no, ok;
    none only reports)."""
    # Output to a file, not a pipe: the first window of a prefix whose desktop has gone idle starts
    # Wine's desktop process, which inherits the starter's output and would hold a pipe open.
    with tempfile.TemporaryFile() as output:
        completed = subprocess.run(
            ["wine", str(ANSWER_TOOL), "--caption", caption, "--answer", answer,
             "--timeout-ms", str(int(timeout_s * 1000))],
            env=wine_environment({"LC_ALL": "C.UTF-8"}), stdin=subprocess.DEVNULL, stdout=output,
            stderr=subprocess.DEVNULL, timeout=timeout_s + 30)
        output.seek(0)
        lines = output.read().decode("utf-8").splitlines()
    if not lines:
        return AnsweredBox(found=False, exit_code=completed.returncode)
    report = json.loads(lines[0])
    return AnsweredBox(found=True, exit_code=completed.returncode, caption=report["caption"],
                       text=report["text"], buttons=tuple(report["buttons"]))
