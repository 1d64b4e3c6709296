// The built-in peers: amplifiers of either generation with their default
// model, and the other devices a real neighbourhood holds (a phone, a
// headset, a tag without a name) so that name filters have something to
// reject.
#pragma once

#include <string>
#include <vector>

#include "PeerSpec.h"

namespace QeltSim {

// An amplifier with the default model of its generation. Its address is
// derived from the serial number, so it is stable from run to run.
PeerSpec MakeAmplifier(const std::string& serial, Generation generation);
// Resets the channels, layout and filters to the default of the generation.
void ApplyGenerationDefaults(AmplifierSpec& amplifier);

PeerSpec MakePhone();
PeerSpec MakeHeadset();
PeerSpec MakeNamelessTag();

// What the simulator runs with when it is given no devices.
std::vector<PeerSpec> DefaultPeers();

// A static random address derived from a text.
std::string AddressFromText(const std::string& text);
// The address as BlueZ writes it into a nameless device's Alias.
std::string AddressAsAlias(const std::string& address);

}  // namespace QeltSim
