#include "bluez/BlueZBleFactory.h"

#include "api/NotAvailable.h"
#include "bluez/BlueZBleScanner.h"

namespace Qelt::BLE {

BLEFactory& BLEFactory::GetInstance() {
    static BlueZBleFactory factory;
    return factory;
}

IAdapter* BlueZBleFactory::GetAdapter() {
    return &BlueZBleScanner::GetInstance();
}

IDevice* BlueZBleFactory::CreateDevice(const std::string& /*deviceName*/,
                                       IProtocolHandler* /*handler*/) {
    ThrowNotAvailable("Opening a device");
}

}  // namespace Qelt::BLE
