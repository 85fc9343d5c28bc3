#include "EventReporting.h"

#include "SCL.h"
#include "ServerUrls.h"
#include "platform/Text.h"

#include <cstdint>

namespace brimlow {

std::string eventQuery(std::string_view name, std::string_view value, std::string_view notes,
                       const EventClient& client, std::uint32_t random) {
    using platform::text::percentEncodedExceptAlphanumerics;
    return "cat=brimlow&evtname=" + percentEncodedExceptAlphanumerics(name) +
           "&evtval=" + percentEncodedExceptAlphanumerics(value) +
           "&notes=" + percentEncodedExceptAlphanumerics(notes) + "&device=" +
           percentEncodedExceptAlphanumerics(client.osVersion + "-" + client.appVersion) +
           "&uid=" + percentEncodedExceptAlphanumerics(client.identity + "-") +
           "&ran=" + std::to_string(random);
}

void SCL::reportEvent(const platform::Desktop& desktop, const std::string& name,
                      const std::string& value, const std::string& notes) {
    // Silently: fetchRemoteConfig has said once per launch that requests are off.
    const std::string host = serverHost();
    if (host.empty()) {
        return;
    }
    EventClient client{osVersion(desktop), appVersion(desktop), clientIdentity(desktop)};
    std::string url = "https://" + host + "/logistics/ln.php?" +
                      eventQuery(name, value, notes, client, randomRequestNumber());
    auto ignored = [](const std::string&) {};
    sendRequest(desktop, url, ignored, ignored, "", "", ignored);
}

} // namespace brimlow
