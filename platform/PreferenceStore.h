#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brimlow::platform {

// The user's persistent key-value store. Every read sees the stored value as it is now, also
// when another program changed it; every write is stored at once and atomically. Failures
// (unreadable, corrupt or unwritable file) never reach the caller: the store reports them as
// diagnostic lines and carries on.
class PreferenceStore {
public:
    virtual ~PreferenceStore() = default;
    // The stored integer; 0 when the key is absent or its value is not a 64-bit integer.
    virtual std::int64_t integerForKey(const std::string& key) = 0;
    virtual void setInteger(const std::string& key, std::int64_t value) = 0;
    // The stored text; nothing when the key is absent.
    virtual std::optional<std::string> stringForKey(const std::string& key) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
};

} // namespace brimlow::platform
