#include "bluez/CallNoArg.h"

#include "api/ApiException.h"
#include "bluez/BlueZNames.h"
#include "bluez/BusResources.h"

namespace Qelt::BLE::BlueZUtil {

void CallNoArg(sd_bus* bus, const std::string& path, const std::string& interface,
               const std::string& method, uint64_t timeoutUs, int errorCode, bool ignoreErrors) {
    BusError error;
    sd_bus_message* rawCall = nullptr;
    int result = sd_bus_message_new_method_call(bus, &rawCall, kBlueZService, path.c_str(),
                                                interface.c_str(), method.c_str());
    MessagePtr call(rawCall);
    if (result >= 0) {
        sd_bus_message* rawReply = nullptr;
        result = sd_bus_call(bus, call.get(), timeoutUs, error.Get(), &rawReply);
        MessagePtr reply(rawReply);
    }
    if (result < 0 && !ignoreErrors) {
        throw ApiException(method + " failed" + error.Detail(), errorCode);
    }
}

}  // namespace Qelt::BLE::BlueZUtil
