#include "UpdateCheck.h"

#include "SCL.h"
#include "ServerUrls.h"
#include "app/ui/PreferenceKeys.h"
#include "platform/Text.h"

namespace brimlow {

RemoteConfig remoteConfig;

namespace {

const char* const requiredTitle = "App update required";
const char* const requiredMessage =
    "This version is significantly outdated and will no longer work. Please relaunch the app "
    "after downloading the latest version.";
const char* const visitButton = "Visit download page";
const char* const availableTitle = "App update available";
const char* const downloadButton = "Download now";
const char* const silenceButton = "Don't show again for this version";

void openDownloadPage(const platform::Desktop& desktop) {
    const std::string host = serverHost();
    if (host.empty()) {
        desktop.console.printLine("No download page: this build names no server");
        return;
    }
    std::string page = "https://" + host + "/brimlow/";
    if (!desktop.urls.openURL(page)) {
        desktop.console.printLine("No browser could open " + page);
    }
}

void offerUpdate(const platform::Desktop& desktop, const std::string& installed) {
    const std::string latest = remoteConfig.latestVersion;
    if (desktop.preferences.stringForKey(keys::noUpdatePrompt).value_or("") == latest) {
        return;
    }
    platform::Alert alert{availableTitle,
                          "Currently installed: " + installed + "\nLatest version:" + latest +
                              "\n\nIt is recommended that you update the app for stability and "
                              "performance.",
                          {downloadButton, silenceButton}};
    switch (desktop.alerts.runModal(alert)) {
    case platform::alertFirstButtonReturn:
        openDownloadPage(desktop);
        break;
    case platform::alertSecondButtonReturn:
        desktop.preferences.setString(keys::noUpdatePrompt, latest);
        break;
    default:
        break;
    }
}

} // namespace

UpdateNotice updateNotice(std::string_view installed, const RemoteConfig& config) {
    // A build that lost its version cannot tell whether it is outdated; sending its user away
    // at every start would be worse than never offering an update.
    if (installed.empty()) {
        return UpdateNotice::none;
    }
    if (platform::text::sortsBefore(installed, config.minimumVersion)) {
        return UpdateNotice::required;
    }
    if (platform::text::sortsBefore(installed, config.latestVersion)) {
        return UpdateNotice::available;
    }
    return UpdateNotice::none;
}

void SCL::fetchRemoteConfig(const platform::Desktop& desktop) {
    // A build without a server goes the way of a launch without a network: the update check
    // runs once start-up is over, with the configuration in force.
    const std::string host = serverHost();
    if (host.empty()) {
        desktop.console.printLine("Server requests are off: this build names no server");
        desktop.mainQueue.async([&desktop] { checkForUpdate(desktop); });
        return;
    }
    std::string url = "https://" + host + "/configapp/brimlow.php?user=" +
                      platform::text::percentEncodedExceptAlphanumerics(clientIdentity(desktop)) +
                      "&ran=" + std::to_string(randomRequestNumber());
    sendRequest(
        desktop, url,
        [&desktop](const std::string& reply) {
            applyConfigReply(desktop, reply);
            checkForUpdate(desktop);
        },
        [&desktop](const std::string&) { checkForUpdate(desktop); }, "", "",
        [](const std::string&) {});
}

void SCL::applyConfigReply(const platform::Desktop& desktop, const std::string& reply) {
    if (std::optional<RemoteConfig> config = parsedConfigText(unscrambledConfigText(reply))) {
        remoteConfig = std::move(*config);
        desktop.console.printLine("config loaded");
    }
}

void SCL::checkForUpdate(const platform::Desktop& desktop) {
    const std::string& installed = appVersion(desktop);
    switch (updateNotice(installed, remoteConfig)) {
    case UpdateNotice::none:
        break;
    case UpdateNotice::required:
        desktop.alerts.runModal({requiredTitle, requiredMessage, {visitButton}});
        openDownloadPage(desktop);
        desktop.application.terminate();
        break;
    case UpdateNotice::available:
        offerUpdate(desktop, installed);
        break;
    }
}

} // namespace brimlow
