// The factory that hands out the adapter and creates device objects.
#pragma once

#include <string>

namespace Qelt::BLE {

class IAdapter;
class IDevice;
class IProtocolHandler;

class BLEFactory {
public:
    // The process-wide factory (a BlueZBleFactory).
    static BLEFactory& GetInstance();

    // The scanner singleton; throws what its construction throws.
    virtual IAdapter* GetAdapter() = 0;
    // A new, opened device owned by the caller. With a null handler the
    // device chooses its protocol itself. Throws what opening throws.
    virtual IDevice* CreateDevice(const std::string& deviceName, IProtocolHandler* handler) = 0;

    virtual ~BLEFactory() = default;
};

}  // namespace Qelt::BLE
