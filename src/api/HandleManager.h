// The process-wide table of open devices. Applications hold handles; the
// table maps each handle to the device it owns, creates devices when a handle
// is opened and destroys them when it is closed.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "device/IDevice.h"
#include "qeltble.h"

namespace Qelt::BLE {

class HandleManager {
public:
    // Creates and opens the device for a serial number; throws on failure.
    using DeviceCreator = std::function<std::unique_ptr<IDevice>(const std::string& serial)>;

    // The process-wide table; its devices come from the BLE factory.
    static HandleManager& GetInstance();

    explicit HandleManager(DeviceCreator createDevice);
    HandleManager(const HandleManager&) = delete;
    HandleManager& operator=(const HandleManager&) = delete;
    // Discards the table without destroying the devices still in it: at
    // process exit their threads may no longer be joined safely.
    ~HandleManager();

    // The handle of the open device with this serial number, or of a newly
    // created one. Issued handles start at 1 and are never reused.
    QELTBLE_HANDLE CreateHandle(const char* serialNumber);
    // Issues the next handle for a device that is already open and takes
    // ownership of it.
    QELTBLE_HANDLE AddDevice(std::unique_ptr<IDevice> device);
    // Throws ApiException 1 "Invalid device handle." for a handle not open.
    IDevice* GetDeviceFromHandle(QELTBLE_HANDLE handle);
    // Throws ApiException 1 "Device not found." for a device not listed.
    QELTBLE_HANDLE GetHandleFromDevice(const IDevice* device);
    // Removes the handle, then destroys its device (or abandons it when it
    // cannot be destroyed safely). Throws like GetDeviceFromHandle.
    void DestroyHandle(QELTBLE_HANDLE handle);
    // Closes every open handle in ascending order.
    void CloseAll();

private:
    using Table = std::map<QELTBLE_HANDLE, std::unique_ptr<IDevice>>;

    // Destroys a device that is no longer listed, unless it says that its
    // destruction could block; then it is abandoned and the log says so.
    static void Dispose(QELTBLE_HANDLE handle, std::unique_ptr<IDevice> device,
                        const char* logFormat);

    DeviceCreator createDevice_;
    Table handles_;
    std::mutex mutex_;
    QELTBLE_HANDLE lastHandle_ = 0;
};

}  // namespace Qelt::BLE
