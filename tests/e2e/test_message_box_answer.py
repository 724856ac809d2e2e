"""The message-box helper against real message boxes shown by another program of the prefix (UiProbe,
which shows the updater's boxes with the texts of the built Updater.exe)."""

import subprocess
import tempfile
import time

import pytest

from messageboxes import answer_message_box
from winehost import BUILD, wine_environment, windows_path

PROBE = BUILD / "tools" / "UiProbe" / "UiProbe.exe"
UPDATER = BUILD / "Updater.exe"

# (language, text id, kind of box, caption (101), text)
PROMPT_EN = (1033, 105, "yesno", "Update", "There is an update available. Would you like to receive it?")
PROMPT_DE = (1031, 105, "yesno", "Update", "Ein Update ist verf\u00fcgbar. M\u00f6chten Sie es herunterladen?")
OFFLINE_ZH = (2052, 106, "error", "\u66f4\u65b0",
              "\u5bf9\u4e0d\u8d77\uff0c\u5e94\u7528\u7a0b\u5e8f\u9700\u8981\u8fdb\u884c\u68c0\u67e5\u66f4\u65b0"
              "\u3002\u8bf7\u8fde\u63a5\u5230\u4e92\u8054\u7f51\u540e\u91cd\u8bd5\u3002")
NOTIFY_FR = (1036, 107, "information", "Mise \u00e0 jour",
             "Une mise \u00e0 jour est n\u00e9cessaire pour afficher cette page Web. Une fois la mise \u00e0 jour "
             "termin\u00e9e, vous serez redirig\u00e9 vers la page Web.")

IDOK, IDYES, IDNO = 1, 6, 7


def show_box(language, text_id, kind):
    """Starts the probe with its output in a file (a pipe may be held open by Wine's desktop process)."""
    output = tempfile.TemporaryFile()
    probe = subprocess.Popen(
        ["wine", str(PROBE), "message-box", windows_path(UPDATER), str(language), str(text_id), kind],
        env=wine_environment(), stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.DEVNULL)
    probe.output = output
    return probe


def answer_of(probe):
    probe.wait(timeout=30)
    probe.output.seek(0)
    return probe.output.read().decode("utf-8", "replace").strip()


@pytest.mark.parametrize("box, answer, expected_answer, buttons", [
    (PROMPT_EN, "yes", IDYES, ("yes", "no")),
    (PROMPT_DE, "no", IDNO, ("yes", "no")),
    (OFFLINE_ZH, "ok", IDOK, ("ok",)),
    (NOTIFY_FR, "ok", IDOK, ("ok",)),
], ids=["prompt-yes", "prompt-no", "offline-ok", "notify-ok"])
def test_reports_the_box_and_clicks_the_answer(box, answer, expected_answer, buttons):
    language, text_id, kind, caption, text = box
    probe = show_box(language, text_id, kind)
    try:
        answered = answer_message_box(caption, answer)
        assert answered.found and answered.exit_code == 0
        assert answered.caption == caption
        assert answered.text == text
        assert answered.buttons == buttons
        assert answer_of(probe) == f"answer: {expected_answer}"
    finally:
        if probe.poll() is None:
            probe.kill()


def test_only_reports_when_asked_to_answer_nothing():
    probe = show_box(*PROMPT_EN[:3])
    try:
        answered = answer_message_box("Update", "none")
        assert answered.found and answered.text == PROMPT_EN[4]
        time.sleep(0.5)
        assert probe.poll() is None, "the box must still be open"
        assert answer_message_box("Update", "no").exit_code == 0
        assert answer_of(probe) == f"answer: {IDNO}"
    finally:
        if probe.poll() is None:
            probe.kill()


def test_refuses_a_button_the_box_does_not_have():
    probe = show_box(*NOTIFY_FR[:3])
    try:
        refused = answer_message_box(NOTIFY_FR[3], "yes")
        assert refused.found and refused.exit_code == 3
        assert probe.poll() is None
        assert answer_message_box(NOTIFY_FR[3], "ok").exit_code == 0
        assert answer_of(probe) == f"answer: {IDOK}"
    finally:
        if probe.poll() is None:
            probe.kill()


def test_gives_up_after_its_time_out_when_no_box_appears():
    started = time.monotonic()
    answered = answer_message_box("No such box", "ok", timeout_s=1)
    assert not answered.found and answered.exit_code == 1
    assert time.monotonic() - started < 20


def test_progress_window_without_its_dialog_fails_as_its_thread_ended_first():
    with tempfile.TemporaryFile() as output:
        subprocess.run(["wine", str(PROBE), "progress-window"], env=wine_environment(), stdin=subprocess.DEVNULL,
                       stdout=output, stderr=subprocess.DEVNULL, timeout=60)
        output.seek(0)
        assert output.read().decode().strip() == "exit-code: 515"
