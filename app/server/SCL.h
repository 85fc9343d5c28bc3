#pragma once

#include "platform/Desktop.h"

#include <functional>
#include <string>

namespace brimlow {

// Talking to the user and to the server.
class SCL {
public:
    SCL() = delete;

    using TextHandler = std::function<void(const std::string& text)>;
    // Receives the reply's bytes as they came.
    using DataHandler = std::function<void(const std::string& bytes)>;

    // Shows an informational alert with one button once the work queued before it has run,
    // then runs `completion`. Returns at once.
    static void showAlert(const platform::Desktop& desktop, const std::string& informativeText,
                          const std::string& messageText, std::function<void()> completion);

    // What the server is told about this client. Each is read from `desktop` on the first call
    // from anywhere and then kept for the life of the process.
    static const std::string& appVersion(const platform::Desktop& desktop);
    static const std::string& clientIdentity(const platform::Desktop& desktop);
    static const std::string& osVersion(const platform::Desktop& desktop);

    // Sends one request in the background: a POST of `body` when it is not empty, else a GET,
    // with the "Name: value" lines of `headers` (separated by "\n") as its only headers. Returns
    // at once. Later, in one main-queue item, either `onSuccess` gets the reply as text and then
    // `onData` gets its bytes, whatever the status, or `onFailure` alone gets a description.
    static void sendRequest(const platform::Desktop& desktop, const std::string& url,
                            TextHandler onSuccess, TextHandler onFailure, const std::string& body,
                            const std::string& headers, DataHandler onData);

    // Tells the server that something happened. Fire and forget: a failure is lost.
    static void reportEvent(const platform::Desktop& desktop, const std::string& name,
                            const std::string& value, const std::string& notes);

    // Asks the server for its configuration; once the request has ended, takes the reply if it
    // is one and runs checkForUpdate. Returns at once.
    static void fetchRemoteConfig(const platform::Desktop& desktop);
    // Takes the configuration a reply carries when it is a well-formed one.
    static void applyConfigReply(const platform::Desktop& desktop, const std::string& reply);
    // Insists on a required update and quits, or offers a newer version.
    static void checkForUpdate(const platform::Desktop& desktop);
};

} // namespace brimlow
