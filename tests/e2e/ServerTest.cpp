#include "DesktopTest.h"
#include "TestServer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <pwd.h>
#include <regex>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace brimlow::e2e {
namespace {

// One request as the server read it: "GET /path?query".
struct Request {
    std::string method;
    std::string path;
    // The query's "key=value" fields, in the order they were sent.
    std::vector<std::pair<std::string, std::string>> fields;
    std::string line;
};

Request parsedRequest(const std::string& line) {
    Request request;
    request.line = line;
    auto space = line.find(' ');
    request.method = line.substr(0, space);
    std::string target = space == std::string::npos ? "" : line.substr(space + 1);
    auto question = target.find('?');
    request.path = target.substr(0, question);
    if (question == std::string::npos) {
        return request;
    }
    std::string query = target.substr(question + 1);
    for (std::size_t start = 0; start <= query.size();) {
        auto end = std::min(query.find('&', start), query.size());
        std::string field = query.substr(start, end - start);
        auto eq = field.find('=');
        request.fields.emplace_back(field.substr(0, eq),
                                    eq == std::string::npos ? "" : field.substr(eq + 1));
        start = end + 1;
    }
    return request;
}

std::string describe(const std::vector<Request>& requests) {
    std::string text;
    for (const auto& request : requests) {
        text += "\n  " + request.line;
    }
    return text.empty() ? " none" : text;
}

std::vector<std::string> keysOf(const Request& request) {
    std::vector<std::string> keys;
    for (const auto& field : request.fields) {
        keys.push_back(field.first);
    }
    return keys;
}

std::string valueOf(const Request& request, const std::string& key) {
    for (const auto& field : request.fields) {
        if (field.first == key) {
            return field.second;
        }
    }
    return {};
}

// A request's random number: decimal, no leading zero, 0 to 999999999.
bool isRequestNumber(const std::string& text) {
    static const std::regex number("0|[1-9][0-9]{0,8}");
    return std::regex_match(text, number);
}

// Percent-encoding that keeps ASCII letters and digits and writes every other byte as %XX.
std::string percentEncoded(const std::string& text) {
    constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += char(c);
        } else {
            out += '%';
            out += hexDigits[c >> 4];
            out += hexDigits[c & 0xF];
        }
    }
    return out;
}

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string loginName() {
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : std::to_string(getuid());
}

// PRETTY_HOSTNAME of /etc/machine-info without its shell quoting, else the host name.
std::string computerName() {
    std::ifstream info("/etc/machine-info");
    const std::string key = "PRETTY_HOSTNAME=";
    for (std::string line; std::getline(info, line);) {
        if (!line.starts_with(key)) {
            continue;
        }
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        std::string out;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) {
                ++i;
            }
            out += value[i];
        }
        if (!out.empty()) {
            return out;
        }
    }
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// "login - computer", each name keeping only ASCII letters, digits, space, '-' and '_'. Only
// for names in plain ASCII: Unicode names take normalisation, which the logic's own tests cover.
std::optional<std::string> expectedIdentity() {
    const std::string login = loginName();
    const std::string computer = computerName();
    if (!isAscii(login) || !isAscii(computer)) {
        return std::nullopt;
    }
    auto filtered = [](const std::string& name) {
        std::string kept;
        for (char c : name) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == ' ' || c == '-' || c == '_') {
                kept += c;
            }
        }
        return kept;
    };
    return filtered(login) + " - " + filtered(computer);
}

// The kernel release's first two numbers, "6.1" for "6.1.0-18-amd64".
std::string expectedOsVersion() {
    utsname system{};
    int major = 0;
    int minor = 0;
    if (uname(&system) == 0) {
        std::sscanf(system.release, "%d.%d", &major, &minor);
    }
    return std::to_string(major) + "." + std::to_string(minor);
}

// The identity as it stands in a query, followed by `suffix`: exact when the names are ASCII,
// otherwise "something - something".
void expectIdentityField(const std::string& value, const std::string& suffix,
                         const std::string& line) {
    if (auto identity = expectedIdentity()) {
        EXPECT_EQ(value, percentEncoded(*identity + suffix)) << line;
    } else {
        const std::regex shape("[^&]*%20%2D%20[^&]*" + percentEncoded(suffix));
        EXPECT_TRUE(std::regex_match(value, shape)) << line;
    }
}

void expectConfigRequest(const Request& request) {
    EXPECT_EQ(request.method, "GET") << request.line;
    EXPECT_EQ(request.path, "/configapp/brimlow.php") << request.line;
    EXPECT_EQ(keysOf(request), (std::vector<std::string>{"user", "ran"})) << request.line;
    expectIdentityField(valueOf(request, "user"), "", request.line);
    EXPECT_TRUE(isRequestNumber(valueOf(request, "ran"))) << request.line;
}

void expectFirstLaunchEvent(const Request& request) {
    EXPECT_EQ(request.method, "GET") << request.line;
    EXPECT_EQ(request.path, "/logistics/ln.php") << request.line;
    EXPECT_EQ(keysOf(request), (std::vector<std::string>{"cat", "evtname", "evtval", "notes",
                                                         "device", "uid", "ran"}))
        << request.line;
    EXPECT_EQ(valueOf(request, "cat"), "brimlow") << request.line;
    EXPECT_EQ(valueOf(request, "evtname"), "First%20launch") << request.line;
    EXPECT_EQ(valueOf(request, "evtval"), "") << request.line;
    EXPECT_EQ(valueOf(request, "notes"), "") << request.line;
    EXPECT_EQ(valueOf(request, "device"), percentEncoded(expectedOsVersion() + "-2.0"))
        << request.line;
    expectIdentityField(valueOf(request, "uid"), "-", request.line);
    EXPECT_TRUE(isRequestNumber(valueOf(request, "ran"))) << request.line;
}

bool printed(const Child& program, const std::string& text) {
    const auto lines = program.lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const OutputLine& line) { return line.text == text; });
}

// A real HTTPS server on 127.0.0.1 that the program is pointed at, trusted through a
// certificate authority made for the test, recording every request it reads.
class RemoteServer : public DesktopTest {
protected:
    void TearDown() override {
        server_.reset();
        DesktopTest::TearDown();
    }

    // The configuration request is answered with these four lines, encoded as the server does.
    void startServer(const std::string& minimumVersion, const std::string& latestVersion) {
        const std::string config = "config\nno\n" + minimumVersion + "\n" + latestVersion;
        server_ = std::make_unique<brimlow::testing::TestServer>(
            std::vector<std::string>{"--config", config, "--record", recordFile().string(),
                                     "--page", "/logistics/ln.php", "ok"});
        ASSERT_TRUE(server_->error.empty()) << server_->error;
    }

    std::string serverHost() const { return "127.0.0.1:" + std::to_string(server_->trustedPort); }

    Environment programEnvironment(const Sandbox& sandbox) const {
        Environment env = sandbox.environment();
        env.set("BRIMLOW_SERVER_HOST", serverHost());
        env.set("SSL_CERT_FILE", server_->caFile);
        return env;
    }

    std::vector<Request> requests() const {
        std::vector<Request> read;
        std::ifstream in(recordFile());
        for (std::string line; std::getline(in, line);) {
            read.push_back(parsedRequest(line));
        }
        return read;
    }

    std::filesystem::path recordFile() const { return dir_.path() / "requests"; }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    std::unique_ptr<brimlow::testing::TestServer> server_;
};

TEST_F(RemoteServer, FetchesTheConfigurationAtEveryStartAndReportsTheFirstLaunchOnce) {
    // A configuration that this version meets in full, so no alert interrupts.
    ASSERT_NO_FATAL_FAILURE(startServer("1.0", "2.0"));
    Sandbox sandbox(displayName());
    ASSERT_FALSE(std::filesystem::exists(sandbox.preferencesFile()));
    const Environment env = programEnvironment(sandbox);
    {
        auto program = startProgram(env);
        ASSERT_TRUE(pollUntil(
            program->startedAt() + 10s, [&] { return requests().size() >= 2; }, 50ms))
            << "the server read:" << describe(requests()) << transcript(*program);
        // Printed once the reply has come through TLS, decoded and been taken.
        ASSERT_TRUE(pollUntil(Clock::now() + 5s, [&] {
            return printed(*program, "config loaded");
        })) << transcript(*program);
        EXPECT_TRUE(pollUntil(Clock::now() + 3s,
                              [&] { return sandbox.readPreferences()["launchcount"] == "1"; }))
            << "launchcount=" << sandbox.readPreferences()["launchcount"];

        ASSERT_EQ(kill(program->pid(), SIGTERM), 0);
        auto status = program->waitForExit(5s);
        ASSERT_TRUE(status) << "the program still runs 5 s after SIGTERM";
        EXPECT_TRUE(*status == 0 || *status == 128 + SIGTERM) << "status " << *status;
    }
    auto first = requests();
    ASSERT_EQ(first.size(), 2u) << "the server read:" << describe(first);
    // The two go out on threads of their own; either may arrive first.
    std::sort(first.begin(), first.end(),
              [](const Request& a, const Request& b) { return a.path < b.path; });
    expectConfigRequest(first[0]);
    expectFirstLaunchEvent(first[1]);

    auto again = startProgram(env);
    ASSERT_TRUE(pollUntil(
        again->startedAt() + 10s, [&] { return printed(*again, "config loaded"); }, 50ms))
        << "the server read:" << describe(requests()) << transcript(*again);
    // An event would have gone out together with the configuration request; a second more is
    // ample for it to arrive.
    std::this_thread::sleep_for(1s);
    auto all = requests();
    ASSERT_EQ(all.size(), 3u) << "the server read:" << describe(all);
    expectConfigRequest(all[2]);
    EXPECT_EQ(sandbox.readPreferences()["launchcount"], "2");
    EXPECT_TRUE(again->running()) << transcript(*again);
}

TEST_F(RemoteServer, OffersANewerVersionAndCanBeToldNotToAgain) {
    ASSERT_NO_FATAL_FAILURE(startServer("1.0", "9.0"));
    StaleAccessibilityBusAddress clearRootProperty(x());
    Sandbox sandbox(displayName());
    Environment env = programEnvironment(sandbox);
    // What a screen reader turns on; the test reads and presses the alert through it.
    env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    auto program = startProgram(env);

    std::string seen;
    auto alert =
        waitForAlert(x(), sandbox.busAddress(), program->pid(), "App update available", 10s, seen);
    ASSERT_TRUE(alert)
        << "no alert \"App update available\" on screen within 10 s; the program published:" << seen
        << transcript(*program);
    auto names = accessibleNames(alert->tree);
    EXPECT_NE(std::find(names.begin(), names.end(),
                        "Currently installed: 2.0\nLatest version:9.0\n\nIt is recommended that "
                        "you update the app for stability and performance."),
              names.end())
        << seen;
    std::sort(alert->buttons.begin(), alert->buttons.end());
    EXPECT_EQ(alert->buttons,
              (std::vector<std::string>{"Don't show again for this version", "Download now"}))
        << seen;
    EXPECT_TRUE(printed(*program, "config loaded")) << transcript(*program);

    ASSERT_TRUE(pressButton(sandbox.busAddress(), program->pid(), alert->tree,
                            "Don't show again for this version"))
        << seen;
    EXPECT_TRUE(pollUntil(Clock::now() + 5s,
                          [&] { return sandbox.readPreferences()["noupdateprompt"] == "9.0"; }))
        << "noupdateprompt=" << sandbox.readPreferences()["noupdateprompt"];
    EXPECT_TRUE(pollUntil(Clock::now() + 5s, [&] { return !x().isViewable(alert->window); }))
        << "the alert stayed on screen";
    EXPECT_TRUE(program->running()) << transcript(*program);
}

TEST_F(RemoteServer, RequiresAnUpdateOpensTheDownloadPageAndQuits) {
    ASSERT_NO_FATAL_FAILURE(startServer("9.0", "9.0"));
    StaleAccessibilityBusAddress clearRootProperty(x());
    Sandbox sandbox(displayName());
    Environment env = programEnvironment(sandbox);
    env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");

    // The browser: Qt hands web addresses to xdg-open, the first one on PATH.
    const auto bin = dir().subdir("bin");
    const auto opened = dir().path() / "opened";
    {
        std::ofstream script(bin / "xdg-open");
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << opened.string() << "'\n";
    }
    std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    env.set("PATH", bin.string() + ":" + (path != nullptr ? path : "/usr/bin:/bin"));
    auto program = startProgram(env);

    std::string seen;
    auto alert =
        waitForAlert(x(), sandbox.busAddress(), program->pid(), "App update required", 10s, seen);
    ASSERT_TRUE(alert)
        << "no alert \"App update required\" on screen within 10 s; the program published:" << seen
        << transcript(*program);
    auto names = accessibleNames(alert->tree);
    EXPECT_NE(std::find(names.begin(), names.end(),
                        "This version is significantly outdated and will no longer work. Please "
                        "relaunch the app after downloading the latest version."),
              names.end())
        << seen;
    EXPECT_EQ(alert->buttons, std::vector<std::string>{"Visit download page"}) << seen;
    // Nothing opens and nothing quits while the alert waits for the user.
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(std::filesystem::exists(opened)) << "the browser opened before the alert closed";
    ASSERT_TRUE(program->running()) << transcript(*program);

    ASSERT_TRUE(
        pressButton(sandbox.busAddress(), program->pid(), alert->tree, "Visit download page"))
        << seen;
    auto status = program->waitForExit(10s);
    ASSERT_TRUE(status) << "the program still runs 10 s after the alert closed"
                        << transcript(*program);
    EXPECT_EQ(*status, 0) << transcript(*program);

    std::string browserGot;
    pollUntil(Clock::now() + 5s, [&] {
        std::ifstream in(opened);
        browserGot.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return !browserGot.empty();
    });
    EXPECT_EQ(browserGot, "https://" + serverHost() + "/brimlow/\n");
}

} // namespace
} // namespace brimlow::e2e
