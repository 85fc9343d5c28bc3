#include "PlistBundleInfo.h"

#include <QFile>
#include <QXmlStreamReader>
#include <filesystem>

namespace brimlow::platform::linuxdesktop {

// Only <plist><dict> ... </dict></plist> with string values is read: nested dictionaries and
// other value types are skipped whole, so their keys never shadow a top-level one. The reader
// never fetches the DTD the file names.
std::map<std::string, std::string> plistStrings(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != u"plist" || !xml.readNextStartElement() ||
        xml.name() != u"dict") {
        return {};
    }
    std::map<std::string, std::string> values;
    QString key;
    bool haveKey = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"key") {
            key = xml.readElementText();
            haveKey = true;
            continue;
        }
        if (haveKey && xml.name() == u"string") {
            values[key.toStdString()] = xml.readElementText().toStdString();
        } else {
            xml.skipCurrentElement();
        }
        haveKey = false;
    }
    if (xml.hasError()) {
        return {};
    }
    return values;
}

std::string runningBundlePath() {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return executable.parent_path().parent_path().parent_path().string();
}

PlistBundleInfo::PlistBundleInfo(const std::string& bundlePath)
    : values_(plistStrings(bundlePath + "/Contents/Info.plist")) {}

std::string PlistBundleInfo::value(const std::string& key) const {
    auto found = values_.find(key);
    return found == values_.end() ? std::string() : found->second;
}

} // namespace brimlow::platform::linuxdesktop
