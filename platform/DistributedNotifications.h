#pragma once

#include <functional>
#include <memory>
#include <string>

namespace brimlow::platform {

// Notifications between programs of the user's session.
class DistributedNotifications {
public:
    // Identifies one added observer.
    class Token {
    public:
        virtual ~Token() = default;
    };
    using Observer = std::function<void()>;

    virtual ~DistributedNotifications() = default;
    // `observer` runs, on any thread, once for every posting of `name`.
    virtual std::shared_ptr<Token> addObserver(const std::string& name, Observer observer) = 0;
    // That observer runs no more.
    virtual void removeObserver(const std::shared_ptr<Token>& token, const std::string& name) = 0;
};

} // namespace brimlow::platform
