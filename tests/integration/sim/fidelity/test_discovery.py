"""Discovery as real BlueZ clients see the simulator."""

import asyncio
import subprocess

from bleak import BleakScanner


def bluetoothctl(*args, timeout=10):
    return subprocess.run(["bluetoothctl"] + list(args), capture_output=True, text=True,
                          timeout=timeout, check=False).stdout


def test_bleak_finds_amplifiers_by_name(simulated_bluez):
    async def scan():
        return await BleakScanner.discover(timeout=1.5, return_adv=True)

    found = asyncio.run(scan())
    devices = [device for device, _ in found.values()]
    names = {device.name for device in devices}
    assert "AB-1234.56.78" in names
    assert "CD-2345.67.89" in names
    # The other devices are reported too (a name filter must sort them out);
    # the nameless tag is named by its address, as BlueZ aliases it.
    assert "Galaxy Tab" in names
    assert "E2-5A-19-4F-21-07" in names
    amplifier, advertisement = next(
        entry for entry in found.values() if entry[0].name == "AB-1234.56.78")
    assert amplifier.address == "D5:FB:CA:4B:77:65"
    assert -127 <= advertisement.rssi < 0
    assert "b5211405-449f-4ba0-a651-b887924b81e8" in advertisement.service_uuids


def test_bleak_finds_a_single_amplifier_by_name(simulated_bluez):
    simulated_bluez.control("AddAmplifier", "sa{sv}", "EF-3456.78.90", {"generation": "nus"})

    async def find():
        return await BleakScanner.find_device_by_name("EF-3456.78.90", timeout=3)

    device = asyncio.run(find())
    assert device is not None
    assert device.name == "EF-3456.78.90"


def test_bluetoothctl_lists_controller_and_devices(simulated_bluez):
    listing = bluetoothctl("list")
    assert "Controller 00:1A:7D:DA:71:13 qeltble-sim [default]" in listing
    # Before a scan only the remembered (paired) headset is known.
    assert bluetoothctl("devices").strip().splitlines() == [
        "Device 38:18:4C:12:9E:05 Studio Headset"]
    scan = bluetoothctl("--timeout", "1.5", "scan", "on")
    assert "Discovering: yes" in scan
    assert "NEW" in scan and "AB-1234.56.78" in scan
    devices = bluetoothctl("devices")
    assert "Device D5:FB:CA:4B:77:65 AB-1234.56.78" in devices
    assert "CD-2345.67.89" in devices


def test_bluetoothctl_powers_the_adapter(simulated_bluez):
    assert "Changing power off succeeded" in bluetoothctl("power", "off")
    assert "Powered: no" in bluetoothctl("show")
    assert "Changing power on succeeded" in bluetoothctl("power", "on")
    assert "Powered: yes" in bluetoothctl("show")
