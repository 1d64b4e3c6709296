// Supervision: a lost link is reported to the application and reopened on
// the reconnect thread, with growing pauses between attempts, until that
// succeeds or the device is closed.
#include "api/HandleManager.h"
#include "device/BlueZBleDevice.h"
#include "device/ReconnectBackoff.h"

namespace Qelt::BLE {

void BlueZBleDevice::RegisterConnectionStateCallback(QELTBLE_CONNECTION_STATE_CALLBACK callback) {
    std::lock_guard lock(stateMutex_);
    connectionStateCallback_ = callback;
}

bool BlueZBleDevice::StopRequested() {
    std::lock_guard lock(reconnectMutex_);
    return stopRequested_;
}

void BlueZBleDevice::OnDeviceDisconnected() noexcept {
    try {
        {
            std::lock_guard lock(stateMutex_);
            connected_ = false;
        }
        {
            std::lock_guard lock(reconnectMutex_);
            if (stopRequested_) {
                return;
            }
            reconnectRequested_ = true;
            reconnectCv_.notify_all();
        }
        NotifyConnectionState(QELTBLE_STATE_DISCONNECTED);
    } catch (...) {
        // Runs on the bus worker: nothing may escape.
    }
}

void BlueZBleDevice::NotifyConnectionState(uint32_t state) noexcept {
    try {
        QELTBLE_CONNECTION_STATE_CALLBACK callback = nullptr;
        {
            std::lock_guard lock(stateMutex_);
            callback = connectionStateCallback_;
        }
        if (callback != nullptr) {
            callback(OwnHandle(), state);
        }
    } catch (...) {
        // A handle being closed, or the application's own failure.
    }
}

void BlueZBleDevice::ReconnectLoop() noexcept {
    ReconnectBackoff backoff(timings_.reconnectFirstPause, timings_.reconnectMaxPause);
    while (true) {
        {
            std::unique_lock lock(reconnectMutex_);
            reconnectCv_.wait(lock, [this] { return reconnectRequested_ || stopRequested_; });
            if (stopRequested_) {
                return;
            }
            reconnectRequested_ = false;
        }
        backoff.Reset();
        while (true) {
            if (StopRequested()) {
                return;
            }
            try {
                Reconnect();
                break;
            } catch (...) {
                // Failed attempts are not reported; the next follows a pause.
            }
            if (timings_.reconnectPauseObserver) {
                timings_.reconnectPauseObserver(backoff.Pause());
            }
            std::unique_lock lock(reconnectMutex_);
            if (reconnectCv_.wait_for(lock, backoff.Pause(), [this] { return stopRequested_; })) {
                return;
            }
            backoff.Grow();
        }
    }
}

void BlueZBleDevice::Reconnect() {
    {
        std::lock_guard lock(stateMutex_);
        connected_ = false;
    }
    link_.TeardownConnection();
    FreeStreamingBuffers();
    Open();
    bool streaming = false;
    {
        std::lock_guard lock(stateMutex_);
        streaming = assembler_.HasCallback();
    }
    if (streaming) {
        SubscribeStreaming();
    }
    NotifyConnectionState(QELTBLE_STATE_CONNECTED);
}

void BlueZBleDevice::Close() noexcept {
    {
        std::lock_guard lock(reconnectMutex_);
        stopRequested_ = true;
        reconnectCv_.notify_all();
    }
    // An attempt in progress ends first: a search for the amplifier gives up
    // at its next poll, a pause at once, and a Connect that BlueZ holds for
    // an amplifier that is switched off is cancelled.
    link_.StopConnecting();
    if (reconnectThread_.joinable()) {
        reconnectThread_.join();
    }
    {
        std::lock_guard lock(stateMutex_);
        assembler_.SetFrameCallback(nullptr);
    }
    try {
        UnsubscribeStreaming();
    } catch (...) {
        // The link goes down next anyway.
    }
    link_.TeardownConnection();
    {
        std::lock_guard lock(stateMutex_);
        connected_ = false;
    }
    FreeStreamingBuffers();
}

}  // namespace Qelt::BLE
