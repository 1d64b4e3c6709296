// The factory behind BLEFactory::GetInstance: the adapter is the BlueZ
// scanner singleton; devices are opened through BlueZ.
#pragma once

#include "bluez/BLEFactory.h"

namespace Qelt::BLE {

class BlueZBleFactory final : public BLEFactory {
public:
    IAdapter* GetAdapter() override;
    IDevice* CreateDevice(const std::string& deviceName, IProtocolHandler* handler) override;
};

}  // namespace Qelt::BLE
