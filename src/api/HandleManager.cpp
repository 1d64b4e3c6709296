#include "api/HandleManager.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "api/ApiException.h"
#include "bluez/BLEFactory.h"
#include "log/QeltLogger.h"

namespace Qelt::BLE {

namespace {

constexpr const char* kAbandonOneFormat =
    "handle %u: Bluetooth transport unresponsive; leaking the device object instead of "
    "destroying it. Restart the host process to reclaim it.";
constexpr const char* kAbandonAllFormat =
    "handle %u: Bluetooth transport unresponsive; leaking the device object instead of "
    "destroying it.";

}  // namespace

HandleManager& HandleManager::GetInstance() {
    static HandleManager manager([](const std::string& serial) {
        return std::unique_ptr<IDevice>(BLEFactory::GetInstance().CreateDevice(serial, nullptr));
    });
    return manager;
}

HandleManager::HandleManager(DeviceCreator createDevice) : createDevice_(std::move(createDevice)) {}

HandleManager::~HandleManager() {
    for (auto& entry : handles_) {
        (void)entry.second.release();
    }
}

QELTBLE_HANDLE HandleManager::CreateHandle(const char* serialNumber) {
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, device] : handles_) {
            const QELTBLE_DEVICE_INFORMATION info = device->GetDeviceInfo();
            const std::string_view listed(info.serialNumber,
                                          strnlen(info.serialNumber, sizeof info.serialNumber));
            if (listed == serialNumber) {
                return handle;
            }
        }
    }

    // The device is created without the lock: opening takes seconds.
    return AddDevice(createDevice_(serialNumber));
}

QELTBLE_HANDLE HandleManager::AddDevice(std::unique_ptr<IDevice> device) {
    try {
        std::lock_guard lock(mutex_);
        const QELTBLE_HANDLE handle = lastHandle_ + 1;
        handles_.emplace(handle, std::move(device));
        lastHandle_ = handle;
        return handle;
    } catch (...) {
        if (device) {
            device->PrepareForDelete();
            if (!device->CanDelete()) {
                (void)device.release();
            }
        }
        throw;
    }
}

IDevice* HandleManager::GetDeviceFromHandle(QELTBLE_HANDLE handle) {
    std::lock_guard lock(mutex_);
    const auto entry = handles_.find(handle);
    if (entry == handles_.end()) {
        throw ApiException("Invalid device handle.", QELTBLE_ERROR_INVALID_HANDLE);
    }
    return entry->second.get();
}

QELTBLE_HANDLE HandleManager::GetHandleFromDevice(const IDevice* device) {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, listed] : handles_) {
        if (listed.get() == device) {
            return handle;
        }
    }
    throw ApiException("Device not found.", QELTBLE_ERROR_INVALID_HANDLE);
}

void HandleManager::DestroyHandle(QELTBLE_HANDLE handle) {
    std::unique_ptr<IDevice> device;
    {
        std::lock_guard lock(mutex_);
        const auto entry = handles_.find(handle);
        if (entry == handles_.end()) {
            throw ApiException("Invalid device handle.", QELTBLE_ERROR_INVALID_HANDLE);
        }
        device = std::move(entry->second);
        handles_.erase(entry);
    }
    Dispose(handle, std::move(device), kAbandonOneFormat);
}

void HandleManager::CloseAll() {
    Table closing;
    {
        std::lock_guard lock(mutex_);
        closing.swap(handles_);
    }
    for (auto& [handle, device] : closing) {
        Dispose(handle, std::move(device), kAbandonAllFormat);
    }
}

void HandleManager::Dispose(QELTBLE_HANDLE handle, std::unique_ptr<IDevice> device,
                            const char* logFormat) {
    device->PrepareForDelete();
    if (!device->CanDelete()) {
        QeltLogger::Instance().Log("ERROR", logFormat, static_cast<unsigned>(handle));
        (void)device.release();
        return;
    }
    device.reset();
}

}  // namespace Qelt::BLE
