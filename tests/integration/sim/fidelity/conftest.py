"""Fixtures for the fidelity tests: real BlueZ clients (Bleak, bluetoothctl)
against the simulator on a private bus. The bus daemon and the simulator are
ended by their PIDs after each test, also when it fails."""

import os
import signal
import subprocess
import tempfile
import time

import dbus
import dbus.bus
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
BUS_CONFIG = os.path.join(HERE, "..", "..", "..", "..", "scripts", "private-bus.conf")


def _simulator_path():
    path = os.environ.get("QELTBLE_SIM")
    if not path:
        pytest.skip("QELTBLE_SIM does not name the simulator binary")
    return path


def _stop(process):
    if process.poll() is None:
        os.kill(process.pid, signal.SIGTERM)
        try:
            process.wait(timeout=3)
        except subprocess.TimeoutExpired:
            os.kill(process.pid, signal.SIGKILL)
            process.wait()


def _name_owned(name):
    result = subprocess.run(
        ["dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/",
         "org.freedesktop.DBus.NameHasOwner", "string:" + name],
        capture_output=True, text=True, check=False)
    return "boolean true" in result.stdout


class SimulatedBlueZ:
    """A private bus with the simulator on it; DBUS_SYSTEM_BUS_ADDRESS points
    at the bus while it lives."""

    def __init__(self, options):
        self.directory = tempfile.mkdtemp(prefix="qeltble-bus-")
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--config-file=" + BUS_CONFIG,
             "--address=unix:path=" + os.path.join(self.directory, "bus"),
             "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.simulator = None
        self.previous = os.environ.get("DBUS_SYSTEM_BUS_ADDRESS")
        address = self.bus.stdout.readline().strip()
        if not address:
            self.close()
            raise RuntimeError("dbus-daemon did not start")
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = address
        self.simulator = subprocess.Popen([_simulator_path()] + list(options))
        deadline = time.monotonic() + 10
        while not (_name_owned("org.bluez") and _name_owned("org.qeltble.Simulator")):
            if time.monotonic() > deadline or self.simulator.poll() is not None:
                self.close()
                raise RuntimeError("the simulator did not come up")
            time.sleep(0.05)

    def control(self, method, signature, *args):
        """Calls a control method, e.g. control("AddAmplifier", "sa{sv}",
        "EF-3456.78.90", {"generation": "nus"})."""
        bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
        try:
            control = bus.get_object("org.qeltble.Simulator", "/org/qeltble/Simulator",
                                     introspect=False)
            return control.get_dbus_method(method, "org.qeltble.Simulator1")(
                *args, signature=signature)
        finally:
            bus.close()

    def close(self):
        if self.simulator is not None:
            _stop(self.simulator)
        _stop(self.bus)
        if self.previous is None:
            os.environ.pop("DBUS_SYSTEM_BUS_ADDRESS", None)
        else:
            os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = self.previous
        subprocess.run(["rm", "-rf", self.directory], check=False)


@pytest.fixture
def simulated_bluez(request):
    marker = request.node.get_closest_marker("sim_options")
    options = marker.args if marker else ["--scan-interval-ms", "100"]
    bluez = SimulatedBlueZ(options)
    yield bluez
    bluez.close()


def pytest_configure(config):
    config.addinivalue_line("markers", "sim_options(*args): command-line options of the simulator")
