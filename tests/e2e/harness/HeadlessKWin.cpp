#include "HeadlessKWin.h"

#include "QtBus.h"

#include <fstream>
#include <stdexcept>

namespace brimlow::e2e {
namespace {

void writeFakeInputEntry(const std::filesystem::path& file,
                         const std::filesystem::path& executable) {
    // Quoted, since the program's own path has a space. Inside quotes a desktop entry needs
    // these escaped, twice over; no path of the tests has them.
    if (!executable.is_absolute() ||
        executable.string().find_first_of("\"`$\\%\n") != std::string::npos) {
        throw std::invalid_argument("no plain quoted Exec= for " + executable.string());
    }
    std::ofstream out(file);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << executable.filename().string() << "\n"
        << "Exec=\"" << executable.string() << "\"\n"
        << "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

// KDE's service index (KF6's, which KWin looks entries up in) lists only the applications of a
// menu: a Plasma session has plasma-workspace's, a bare machine (Debian 13: KF5's service data
// brought a menu, KF6's brings none) has no menu at all, and then no entry is ever found. This
// one takes every application, as Plasma's does.
void writeApplicationsMenu(const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file);
    out << "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
        << " \"http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd\">\n"
        << "<Menu><Name>Applications</Name><DefaultAppDirs/><Include><All/></Include></Menu>\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

} // namespace

std::optional<std::string> missingKWinPackage() {
    return firstMissingPackage({{"kwin_wayland", "kwin-wayland"}, {"dbus-daemon", "dbus"}});
}

HeadlessKWin::HeadlessKWin(const Sandbox& sandbox,
                           const std::vector<std::filesystem::path>& fakeInputClients,
                           Portals portals)
    : HeadlessCompositor("KWin", sandbox.environment(), "KDE"),
      bus_(std::make_unique<QtBusConnection>(sandbox.busAddress())) {
    const auto runtimeDir = variableIn(sandbox.environment(), "XDG_RUNTIME_DIR");
    const auto installed = findProgram("kwin_wayland");
    if (!runtimeDir || !installed) {
        throw std::logic_error("no XDG_RUNTIME_DIR in the sandbox, or no kwin_wayland");
    }
    // Debian gives kwin_wayland the file capability cap_sys_resource, and a container without
    // it refuses to run the file at all (EPERM); a copy does not carry it.
    const auto executable = dir_.path() / "kwin_wayland";
    std::filesystem::copy_file(*installed, executable);

    const auto applications = dir_.subdir("data") / "applications";
    std::filesystem::create_directories(applications);
    for (std::size_t i = 0; i < fakeInputClients.size(); ++i) {
        writeFakeInputEntry(applications / ("client-" + std::to_string(i) + ".desktop"),
                            fakeInputClients[i]);
    }
    const auto configDir = dir_.path() / "xdg";
    writeApplicationsMenu(configDir / "menus" / "applications.menu");
    Environment env = sandbox.environment();
    env.set("XDG_DATA_DIRS",
            (dir_.path() / "data").string() + ":" +
                variableIn(env, "XDG_DATA_DIRS").value_or("/usr/local/share:/usr/share"));
    env.set("XDG_CONFIG_DIRS",
            configDir.string() + ":" + variableIn(env, "XDG_CONFIG_DIRS").value_or("/etc/xdg"));
    // Its own windows (none here) and compositing without a GPU.
    env.set("QT_QPA_PLATFORM", "offscreen");
    env.set("KWIN_COMPOSE", "Q");

    setWaylandDisplay(uniqueWaylandDisplay());
    if (portals == Portals::inTheSession) {
        shareEnvironmentWithTheBus();
    }
    const auto socket = std::filesystem::path(*runtimeDir) / waylandDisplay();
    start({executable.string(), "--virtual", "--no-lockscreen", "--no-global-shortcuts",
           "--no-kactivities", "--socket", waylandDisplay(), "--width", std::to_string(screenWidth),
           "--height", std::to_string(screenHeight)},
          env, [&] {
              return std::filesystem::exists(socket) &&
                     bus_->hasOwner(QStringLiteral("org.kde.KWin"));
          });
}

// Here, where QtBusConnection is complete; the connection closes before KWin is ended.
HeadlessKWin::~HeadlessKWin() = default;

} // namespace brimlow::e2e
