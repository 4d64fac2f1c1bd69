#include "serial/ports/enum_com_ports.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>

#include "serial/error/com_error.h"

namespace cport {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool EntryExists(const std::string& path) {
    struct stat info {};
    // lstat: the `device` link counts even when its target cannot be followed.
    return lstat(path.c_str(), &info) == 0;
}

// Serial-core ports carry a `type` attribute; 0 is PORT_UNKNOWN, a slot
// without a UART. An unreadable or missing attribute keeps the port listed:
// better one name too many than a real port hidden.
bool IsPlaceholderUart(const std::string& entryDir) {
    std::ifstream typeFile(entryDir + "/type");
    if (!typeFile)
        return false;
    int type = -1;
    if (!(typeFile >> type))
        return false;
    return type == 0;
}

}  // namespace

void EnumComPorts(std::vector<tarvik::Text>& ports) {
    EnumComPorts(ports, kSysClassTty);
}

void EnumComPorts(std::vector<tarvik::Text>& ports, const std::string& ttyClassDir) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(ttyClassDir.c_str()));
    if (!dir)
        throw EComPort(ecRegistry, errno);

    std::vector<tarvik::Text> found;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0)
                throw EComPort(ecRegistry, errno);
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string entryDir = ttyClassDir + "/" + name;
        if (!EntryExists(entryDir + "/device") || IsPlaceholderUart(entryDir))
            continue;
        tarvik::Text portName = name;
        std::replace(portName.begin(), portName.end(), '!', '/');
        found.push_back(std::move(portName));
    }
    SortPortNames(found);
    ports = std::move(found);
}

void SortPortNames(std::vector<tarvik::Text>& names) {
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::vector<std::pair<QString, tarvik::Text>> keyed;
    keyed.reserve(names.size());
    for (auto& name : names)
        keyed.emplace_back(QString::fromLatin1(name.data(), qsizetype(name.size())),
                           std::move(name));
    std::sort(keyed.begin(), keyed.end(), [&collator](const auto& a, const auto& b) {
        const int order = collator.compare(a.first, b.first);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    names.clear();
    for (auto& item : keyed) names.push_back(std::move(item.second));
}

}  // namespace cport
