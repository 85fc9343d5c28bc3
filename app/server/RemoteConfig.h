#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brimlow {

// The record the server's configuration reply carries. The initial values are in force until a
// reply is accepted.
struct RemoteConfig {
    std::string header = "config";
    std::string setting = "no";
    // A running version that sorts before it must update.
    std::string minimumVersion = "1.1";
    // A running version that sorts before it is offered the update.
    std::string latestVersion = "1.1";

    bool operator==(const RemoteConfig&) const = default;
};

// The reply that carries `text`: the text reversed, Base64-encoded, the Base64 reversed, and
// every "=" written as "fau".
std::string scrambledConfigText(std::string_view text);

// The text `reply` carries; empty when it is not valid Base64 of UTF-8 text once unscrambled.
std::string unscrambledConfigText(std::string_view reply);

// The record in `text`: exactly four lines separated by "\n", the first "config", taken as
// they stand.
std::optional<RemoteConfig> parsedConfigText(std::string_view text);

} // namespace brimlow
