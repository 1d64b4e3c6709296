"""scripts/private-bus: a command runs against the simulator on a private
bus, gets its exit status back, and leaves nothing behind."""

import os
import re
import subprocess

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "..",
                      "scripts", "private-bus")


def run(*args):
    return subprocess.run([SCRIPT] + list(args), capture_output=True, text=True, timeout=60,
                          check=False)


def test_runs_bluetoothctl_against_the_simulator_and_cleans_up(tmp_path):
    if not os.environ.get("QELTBLE_SIM"):
        import pytest
        pytest.skip("QELTBLE_SIM does not name the simulator binary")
    result = run("--sim", "--no-default-devices", "--", "sh", "-c",
                 'echo "$DBUS_SYSTEM_BUS_ADDRESS"; bluetoothctl list')
    assert result.returncode == 0, result.stderr
    address = result.stdout.splitlines()[0]
    match = re.match(r"unix:path=(.*)/bus", address)
    assert match, address
    assert "Controller 00:1A:7D:DA:71:13 qeltble-sim [default]" in result.stdout
    # The bus directory is gone, and with it the daemon's socket.
    assert not os.path.exists(match.group(1))


def test_passes_the_exit_status_on():
    assert run("--", "sh", "-c", "exit 7").returncode == 7
    assert run("--bogus").returncode == 2
