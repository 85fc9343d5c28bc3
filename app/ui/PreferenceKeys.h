#pragma once

// The keys of the user's preference store; these names are what users' stored files hold.
namespace brimlow::keys {

inline constexpr const char* idleSeconds = "idleseconds";
inline constexpr const char* hideIcon = "hideicon";
inline constexpr const char* movedCount = "movedcount";
inline constexpr const char* appRunning = "apprunning";
inline constexpr const char* launchCount = "launchcount";
inline constexpr const char* noUpdatePrompt = "noupdateprompt";

} // namespace brimlow::keys
