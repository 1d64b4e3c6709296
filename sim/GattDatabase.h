// BlueZ's GATT client objects of one device: serviceXXXX, charYYYY and
// descZZZZ below the device path with BlueZ's properties, ReadValue,
// WriteValue, and per-client notify sessions. The objects are created at the
// first service discovery and kept across disconnections (BlueZ's cache);
// sessions stay too and are registered again when the link returns.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "GattProfile.h"
#include "SimContext.h"

namespace QeltSim {

class GattDatabase : public Notifier {
public:
    GattDatabase(SimContext& context, const std::string& devicePath, const GattProfile& profile,
                 uint16_t mtu);
    GattDatabase(const GattDatabase&) = delete;
    GattDatabase& operator=(const GattDatabase&) = delete;
    ~GattDatabase() override;

    // Whether `profile` has the same services and characteristics, so the
    // cached objects can stand for it.
    bool SameLayout(const GattProfile& profile) const;
    // Takes the behaviour of a (same-layout) profile for a new connection.
    void Bind(const GattProfile& profile);

    // Announces the objects (services, then each characteristic and its
    // descriptors) unless they are announced already.
    void Announce();
    // The GATT client is ready: sessions made while disconnected register.
    void LinkUp();
    // The link dropped: registrations are cleared, sessions kept.
    void LinkDown();
    bool Linked() const { return linked_; }

    bool Notify(const std::string& uuid, const uint8_t* data, size_t size) override;
    bool Notifying(const std::string& uuid) const override;

private:
    struct Session {
        std::string client;
        bool registered = false;
    };
    struct Characteristic {
        std::string path;
        std::string servicePath;
        std::string cccdPath;  // empty without notify/indicate
        GattCharacteristicDef def;
        std::vector<Session> sessions;
        bool enabled = false;  // notifications enabled at the peripheral
    };

    void ExportService(const GattServiceDef& service, uint16_t& handle);
    void ExportCharacteristic(const std::string& servicePath, const GattCharacteristicDef& def,
                              uint16_t& handle);
    int ReadValue(size_t index, sd_bus_message* call);
    int WriteValue(size_t index, sd_bus_message* call);
    int StartNotify(size_t index, sd_bus_message* call);
    int StopNotify(size_t index, sd_bus_message* call);
    int ReadCccd(size_t index, sd_bus_message* call);
    void UpdateNotifying(size_t index);
    void ClientLeft(const std::string& client);

    SimContext& context_;
    const std::string devicePath_;
    const uint16_t mtu_;
    std::vector<std::string> servicePaths_;
    std::vector<Characteristic> characteristics_;
    std::map<std::string, size_t> byUuid_;
    bool linked_ = false;
    int watchToken_ = 0;
};

}  // namespace QeltSim
