#include "QtUrlOpener.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace brimlow::platform::linuxdesktop {

bool QtUrlOpener::openURL(const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
}

} // namespace brimlow::platform::linuxdesktop
