// The built-in peers: amplifiers of either generation with their default
// model, and the other devices a real neighbourhood holds (a phone, a
// headset, a tag without a name) so that name filters have something to
// reject.
#pragma once

#include <string>
#include <vector>

#include "PeerConfig.h"

namespace QeltSim {

// An amplifier with the default model of its generation. Its address is
// derived from the serial number, so it is stable from run to run.
PeerConfig MakeAmplifier(const std::string& serial, Generation generation);
// Resets the channels, layout and filters to the default of the generation.
void ApplyGenerationDefaults(AmplifierConfig& amplifier);

PeerConfig MakePhone();
PeerConfig MakeHeadset();
PeerConfig MakeNamelessTag();

// What the simulator runs with when it is given no devices.
std::vector<PeerConfig> DefaultPeers();

// A static random address derived from a text.
std::string AddressFromText(const std::string& text);
// The address as BlueZ writes it into a nameless device's Alias.
std::string AddressAsAlias(const std::string& address);

}  // namespace QeltSim
