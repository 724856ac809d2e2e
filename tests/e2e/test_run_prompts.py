"""The run's message boxes, answered as a user would with tools/MessageBoxAnswer: the update prompt (No
and Yes) and the notice of "/notify"."""

import pytest

PROMPT = "There is an update available. Would you like to receive it?"
NOTICE = "An update is needed to show this web page. After the update, you will be returned to the web page."


def test_prompt_answered_no_ends_with_4_before_any_download(updater):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer)
    run = updater.run("/prompt", answer_box="no")
    assert run.exit_code == 4, run.describe()
    assert (run.box.text, run.box.buttons) == (PROMPT, ("yes", "no"))
    assert run.events == ["UpdateDeny", "UpdateNo"]
    assert run.results == []
    assert run.file_requests == [] and run.download_files == {}


@pytest.mark.parametrize("option, answer, text, buttons", [
    ("/prompt", "yes", PROMPT, ("yes", "no")),
    ("/notify", "ok", NOTICE, ("ok",)),
], ids=["prompt-yes", "notify"])
def test_answered_box_lets_the_run_download_and_hand_over(updater, option, answer, text, buttons):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer)
    run = updater.run(option, *updater.handoff_arguments(), answer_box=answer)
    assert run.exit_code == 0, run.describe()
    assert (run.box.text, run.box.buttons) == (text, buttons)
    assert run.events == ["UpdateYes"]
    assert run.results == ["Succeeded"]
    assert run.download_files["setup.exe"] == installer.data


def test_prompt_wins_over_notify(updater):
    updater.offer(updater.host("/dl/setup.exe", updater.signed_installer()))
    run = updater.run("/notify", "/prompt", answer_box="no")
    assert run.exit_code == 4, run.describe()
    assert run.box.text == PROMPT
