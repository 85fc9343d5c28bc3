#include "CurlTransfer.h"

#include <chrono>
#include <cstdlib>
#include <curl/curl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace brimlow::platform::linuxdesktop {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long totalSeconds = 30;
constexpr long secondsWithoutData = 15;
constexpr long redirectLimit = 10;
// The server's replies are a few hundred bytes; anything this large is not one of them.
constexpr std::size_t replyLimit = 1024 * 1024;

struct Transfer {
    std::string body;
    Clock::time_point lastData = Clock::now();
    bool tooLarge = false;
    bool stalled = false;
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    std::size_t bytes = size * count;
    transfer->lastData = Clock::now();
    if (transfer->body.size() + bytes > replyLimit) {
        transfer->tooLarge = true;
        return 0; // makes curl stop with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, bytes);
    return bytes;
}

std::size_t noteHeader(char*, std::size_t size, std::size_t count, void* userData) {
    static_cast<Transfer*>(userData)->lastData = Clock::now();
    return size * count;
}

// curl's own low-speed limit measures an average rate, so a server sending a byte every few
// seconds would count as silent; the limit here is on time since anything last arrived.
int watchTransfer(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(userData);
    if (Clock::now() - transfer->lastData >= std::chrono::seconds(secondsWithoutData)) {
        transfer->stalled = true;
        return 1;
    }
    return 0;
}

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

bool holdsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// curl adds Accept, and for a POST a form content type and possibly Expect, unless told not
// to; the request goes out with the caller's headers alone. A header without a name cannot go
// on the wire and is left out.
std::optional<HeaderList> headerList(const HttpRequest& request) {
    HeaderList list(nullptr, curl_slist_free_all);
    auto append = [&list](const std::string& line) {
        curl_slist* longer = curl_slist_append(list.get(), line.c_str());
        if (longer != nullptr) {
            list.release();
            list.reset(longer);
        }
        return longer != nullptr;
    };
    bool complete = append("Accept:");
    if (request.method == "POST") {
        complete = complete && append("Content-Type:") && append("Expect:");
    }
    for (const auto& [name, value] : request.headers) {
        if (holdsLineBreak(name) || holdsLineBreak(value)) {
            return std::nullopt;
        }
        if (!name.empty()) {
            // "Name;" sends a header with an empty value; "Name:" would remove it.
            complete = complete && append(value.empty() ? name + ";" : name + ": " + value);
        }
    }
    if (!complete) {
        return std::nullopt;
    }
    return list;
}

std::optional<std::string> fileContents(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::string contents{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
        return std::nullopt;
    }
    return file.is_open() ? std::optional(contents) : std::nullopt;
}

// A blob replaces curl's default bundle, so it carries that bundle's roots too.
std::optional<std::string> trustedCertificates(CURL* handle, const std::string& extraBundle) {
    std::optional<std::string> extra = fileContents(extraBundle.c_str());
    if (!extra) {
        return std::nullopt;
    }
    std::string bundle;
    char* defaultBundle = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_CAINFO, &defaultBundle) == CURLE_OK &&
        defaultBundle != nullptr) {
        bundle = fileContents(defaultBundle).value_or("");
    }
    return bundle + "\n" + *extra;
}

HttpOutcome failure(std::string description) {
    return {std::move(description), std::nullopt};
}

HttpOutcome perform(const HttpRequest& request, const std::string& extraBundle) {
    Easy easy(curl_easy_init(), curl_easy_cleanup);
    std::optional<HeaderList> headers = headerList(request);
    if (!easy || !headers) {
        return failure(!easy ? "The HTTP client could not be started."
                             : "The request's headers cannot be sent.");
    }
    CURL* handle = easy.get();
    Transfer transfer;
    std::string certificates;
    if (!extraBundle.empty()) {
        std::optional<std::string> trusted = trustedCertificates(handle, extraBundle);
        if (!trusted) {
            return failure("SSL_CERT_FILE names a file that cannot be read: " + extraBundle);
        }
        certificates = std::move(*trusted);
        curl_blob blob{certificates.data(), certificates.size(), CURL_BLOB_NOCOPY};
        if (CURLcode result = curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
            result != CURLE_OK) {
            return failure(std::string("SSL_CERT_FILE cannot be used: ") +
                           curl_easy_strerror(result));
        }
    }
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, totalSeconds);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, secondsWithoutData);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, watchTransfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, redirectLimit);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers->get());
    if (request.method == "POST") {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
    }
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, noteHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, detail);

    CURLcode result = curl_easy_perform(handle);
    if (transfer.tooLarge) {
        return failure("The server's reply is larger than 1 MiB.");
    }
    if (transfer.stalled) {
        // Worded as curl's own limits are, so that every timeout reads alike.
        return failure(std::string(curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)) +
                       ": nothing arrived from the server for " +
                       std::to_string(secondsWithoutData) + " seconds");
    }
    if (result != CURLE_OK) {
        std::string description = curl_easy_strerror(result);
        if (detail[0] != '\0') {
            description += ": ";
            description += detail;
        }
        return failure(description);
    }
    return {std::nullopt, std::move(transfer.body)};
}

} // namespace

HttpOutcome curlTransfer(const HttpRequest& request, const std::string& extraBundle) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return perform(request, extraBundle);
}

} // namespace brimlow::platform::linuxdesktop
