#include "protocol/Parser.h"

#include <bit>
#include <cstring>

#include "api/ApiException.h"
#include "qeltble.h"

namespace Qelt::BLE::Parser {

// The records are copied byte for byte; their fields are little-endian on the
// air as in memory.
static_assert(std::endian::native == std::endian::little,
              "configuration records are decoded by copying little-endian bytes");

namespace {

template <typename Record>
void CopyRecord(std::string_view value, Record& record, const char* truncatedMessage) {
    if (value.size() < sizeof(Record)) {
        throw ApiException(truncatedMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    std::memcpy(&record, value.data(), sizeof(Record));
}

}  // namespace

void AmplifierConfiguration(std::string_view value, QELTBLE_AMPLIFIER_CONFIGURATION& config) {
    CopyRecord(value, config, "Truncated amplifier configuration.");
    if (config.channelCount != config.channelConfigCount) {
        throw ApiException("Invalid amplifier configuration.", QELTBLE_ERROR_COMMUNICATION);
    }
    if (config.payloadConfigCount == 0) {
        throw ApiException("Invalid payload configuration.", QELTBLE_ERROR_COMMUNICATION);
    }
    if (config.channelConfigCount == 0) {
        throw ApiException("Invalid channel configuration.", QELTBLE_ERROR_COMMUNICATION);
    }
}

void ChannelConfiguration(std::string_view value, QELTBLE_CHANNEL_CONFIGURATION& config) {
    CopyRecord(value, config, "Truncated channel configuration.");
}

void PayloadChannelConfiguration(std::string_view value,
                                 QELTBLE_PAYLOADCHANNEL_CONFIGURATION& config) {
    CopyRecord(value, config, "Truncated payload configuration.");
}

void FilterChannelConfiguration(std::string_view value,
                                QELTBLE_FILTERCHANNEL_CONFIGURATION& config) {
    CopyRecord(value, config, "Truncated filter configuration.");
}

uint8_t BatteryLevel(std::string_view value) {
    if (value.empty()) {
        throw ApiException("Empty battery level value.", QELTBLE_ERROR_COMMUNICATION);
    }
    return static_cast<uint8_t>(value.front());
}

}  // namespace Qelt::BLE::Parser
