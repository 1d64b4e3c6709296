"""Connecting with Bleak: services, reads and notifications as Bleak sees
them from the simulator."""

import asyncio

import pytest
from bleak import BleakClient, BleakScanner

DATA_SERVICE = "b5211405-449f-4ba0-a651-b887924b81e8"
SAMPLES = "b5211406-449f-4ba0-a651-b887924b81e8"
MODEL_NUMBER = "00002a24-0000-1000-8000-00805f9b34fb"
BATTERY_LEVEL = "00002a19-0000-1000-8000-00805f9b34fb"


@pytest.mark.sim_options("--scan-interval-ms", "100", "--battery-interval-ms", "200",
                         "--disconnect-delay-ms", "200", "--amplifier", "AB-1234.56.78",
                         "--set", "battery=77", "--set", "model-number=QA-8L rev 3")
def test_bleak_connects_reads_and_gets_notifications(simulated_bluez):
    async def session():
        device = await BleakScanner.find_device_by_name("AB-1234.56.78", timeout=5)
        assert device is not None
        async with BleakClient(device, timeout=10) as client:
            uuids = {service.uuid for service in client.services}
            assert DATA_SERVICE in uuids
            assert "0000180a-0000-1000-8000-00805f9b34fb" in uuids
            assert "0000180f-0000-1000-8000-00805f9b34fb" in uuids
            samples = client.services.get_characteristic(SAMPLES)
            assert "notify" in samples.properties
            assert await client.read_gatt_char(MODEL_NUMBER) == b"QA-8L rev 3"
            assert await client.read_gatt_char(BATTERY_LEVEL) == bytearray([77])

            battery = asyncio.Queue()
            await client.start_notify(BATTERY_LEVEL,
                                      lambda _, data: battery.put_nowait(bytes(data)))
            # Battery notifications come while the amplifier streams.
            sample_count = 0

            def on_samples(_, data):
                nonlocal sample_count
                sample_count += 1

            await client.start_notify(SAMPLES, on_samples)
            level = await asyncio.wait_for(battery.get(), timeout=5)
            assert level == bytes([77])
            assert sample_count > 0
            await client.stop_notify(SAMPLES)
            await client.stop_notify(BATTERY_LEVEL)

    asyncio.run(session())
