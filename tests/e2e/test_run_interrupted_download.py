"""A run killed in the middle of its download leaves nothing that harms the next run. (How the engine
carries a download through dropped and stalled connections: tests/e2e/download.)"""

from testservers import faults as F

def delivered(server):
    return sum(r.bytes_sent for r in server.log.records())


def test_run_killed_during_its_download_leaves_nothing_that_harms_the_next_run(updater):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer)
    updater.files.set_faults(F.throttle(installer.size / 8))

    def kill_midway(running):
        if delivered(updater.files) > installer.size // 3:
            running.kill()

    killed = updater.run(*updater.handoff_arguments(), during=kill_midway)
    assert killed.killed, killed.describe()
    left = set(killed.download_files)
    assert {"setup.exe.cache", "setup.exe.downloadstate", "setup.exe.0"} <= left, left
    assert "setup.exe" not in left

    updater.files.set_faults(None)
    run = updater.run(*updater.handoff_arguments())
    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"]
    assert run.download_files["setup.exe"] == installer.data
    assert not any(name.startswith("setup.exe.") for name in run.download_files)
    # The clean-up at the start removed the killed run's state: the file was fetched from its first byte.
    assert [r.range_asked for r in run.file_requests] == [(0, 20 * 1024 * 1024)]
    assert sum(r.bytes_sent for r in run.file_requests) == installer.size
