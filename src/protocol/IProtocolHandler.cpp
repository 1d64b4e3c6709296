#include "protocol/IProtocolHandler.h"

namespace Qelt::BLE {

IProtocolHandler::~IProtocolHandler() = default;

void IProtocolHandler::ParseAmplifierConfiguration(const std::string&,
                                                   QELTBLE_AMPLIFIER_CONFIGURATION*) {}

void IProtocolHandler::ParseChannelConfiguration(const std::string&,
                                                 QELTBLE_CHANNEL_CONFIGURATION*) {}

void IProtocolHandler::ParsePayloadChannelConfiguration(const std::string&,
                                                        QELTBLE_PAYLOADCHANNEL_CONFIGURATION*) {}

void IProtocolHandler::ParseFilterChannelConfiguration(const std::string&,
                                                       QELTBLE_FILTERCHANNEL_CONFIGURATION*) {}

void IProtocolHandler::ConvertPayload(const std::string&, float*, uint16_t,
                                      const QELTBLE_AMPLIFIER_CONFIGURATION*,
                                      const PayloadLayout*) {}

void IProtocolHandler::ConvertPayload(const std::string&, float*, uint16_t,
                                      const QELTBLE_AMPLIFIER_CONFIGURATION*, const ChannelMap*,
                                      const FilterMap*, const PayloadLayout*) {}

}  // namespace Qelt::BLE
