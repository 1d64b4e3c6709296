#include "bluez/ManagedObjects.h"

#include <string>

#include "api/ApiException.h"
#include "bluez/BlueZNames.h"
#include "bluez/BusResources.h"
#include "bluez/PropertyParsing.h"
#include "qeltble.h"

namespace Qelt::BLE::BlueZUtil {

namespace {

std::vector<ObjEntry> ReadObjects(sd_bus_message* reply) {
    std::vector<ObjEntry> objects;
    if (sd_bus_message_enter_container(reply, 'a', kManagedObjectsEntrySignature) <= 0) {
        return objects;
    }
    while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
        ObjEntry entry;
        const char* path = nullptr;
        if (sd_bus_message_read_basic(reply, 'o', &path) > 0 && path != nullptr) {
            entry.path = path;
        }
        ParseInterfaceList(reply, entry);
        objects.push_back(std::move(entry));
        if (sd_bus_message_exit_container(reply) < 0) {
            return objects;
        }
    }
    sd_bus_message_exit_container(reply);
    return objects;
}

}  // namespace

std::vector<ObjEntry> GetManagedObjects(sd_bus* bus) {
    BusError error;
    sd_bus_message* rawReply = nullptr;
    const int result = sd_bus_call_method(bus, kBlueZService, kRootPath, kObjectManagerInterface,
                                          kGetManagedObjects, error.Get(), &rawReply, nullptr);
    MessagePtr reply(rawReply);
    if (result < 0) {
        throw ApiException(kEnumerationFailedMessage + error.Detail(),
                           QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    return ReadObjects(reply.get());
}

}  // namespace Qelt::BLE::BlueZUtil
