#include "bluez/BlueZBleFactory.h"

#include "bluez/BlueZBleScanner.h"
#include "device/BlueZBleDevice.h"

namespace Qelt::BLE {

BLEFactory& BLEFactory::GetInstance() {
    static BlueZBleFactory factory;
    return factory;
}

IAdapter* BlueZBleFactory::GetAdapter() {
    return &BlueZBleScanner::GetInstance();
}

IDevice* BlueZBleFactory::CreateDevice(const std::string& deviceName, IProtocolHandler* handler) {
    return new BlueZBleDevice(deviceName, handler);
}

}  // namespace Qelt::BLE
