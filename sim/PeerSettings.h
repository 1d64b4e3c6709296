// The one vocabulary of peer settings ("generation", "channels", ...) shared
// by scenario files, the command line and the control interface's
// configuration dictionaries. Values are text; lists are comma-separated.
#pragma once

#include <string>

#include "PeerConfig.h"

namespace QeltSim {

// Applies one setting. Returns false and describes the problem in `error`
// for an unknown key or a malformed value; the configuration may then be partly
// changed, so callers apply settings to a copy.
bool ApplyPeerSetting(PeerConfig& config, const std::string& key, const std::string& value,
                      std::string& error);

// Checks a finished amplifier configuration (channel counts, layout size, ...).
bool ValidateAmplifier(const PeerConfig& config, std::string& error);

// The settings, one per line with a short description, for --help.
const char* PeerSettingsHelp();

}  // namespace QeltSim
