#pragma once

#include "RemoteConfig.h"

#include <string_view>

namespace brimlow {

// The configuration in force for this launch; only the main thread touches it.
extern RemoteConfig remoteConfig;

enum class UpdateNotice { none, required, available };

// What the user of version `installed` must be told, given `config`. Versions compare as text,
// in code point order of their composed forms, a proper prefix first.
UpdateNotice updateNotice(std::string_view installed, const RemoteConfig& config);

} // namespace brimlow
