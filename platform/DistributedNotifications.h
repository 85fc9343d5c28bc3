#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brimlow::platform {

// Notifications between the programs of the user's session. A posting carries a name and an
// object text (by convention the poster's bundle identifier); it reaches the observers of every
// program of the session, the poster's own included.
class DistributedNotifications {
public:
    // Identifies one added observer.
    class Token {
    public:
        virtual ~Token() = default;
    };
    using Observer = std::function<void()>;

    virtual ~DistributedNotifications() = default;
    // `observer` runs, on any thread, once for every posting of `name` whose object equals
    // `object` (whole text, case-sensitive); without an object, for every posting of `name`.
    virtual std::shared_ptr<Token> addObserver(const std::string& name,
                                               const std::optional<std::string>& object,
                                               Observer observer) = 0;
    // That observer runs no more.
    virtual void removeObserver(const std::shared_ptr<Token>& token, const std::string& name) = 0;
    // Returns at once; delivery is not confirmed. Failures are reported as diagnostic lines.
    virtual void post(const std::string& name, const std::string& object) = 0;
};

} // namespace brimlow::platform
