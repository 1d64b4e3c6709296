// Interim factory until the BlueZ factory is part of the build: every
// request fails through the call frame instead of pretending to succeed.
#include "bluez/BLEFactory.h"

#include "api/NotAvailable.h"

namespace Qelt::BLE {

namespace {

class UnavailableFactory final : public BLEFactory {
public:
    IAdapter* GetAdapter() override { ThrowNotAvailable("Scanning"); }
    IDevice* CreateDevice(const std::string&, IProtocolHandler*) override {
        ThrowNotAvailable("Opening a device");
    }
};

}  // namespace

BLEFactory& BLEFactory::GetInstance() {
    static UnavailableFactory factory;
    return factory;
}

}  // namespace Qelt::BLE
