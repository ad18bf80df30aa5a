#include "app/settings.h"

#include "app/platform.h"

#include "files/ini_file.h"
#include "protocol/cp1251.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <sstream>

namespace {

const char* const kSection = "Config";

} // namespace

QString Settings::fileName() {
    return QString::fromUtf8("Сonfig.ini");
}

QString Settings::defaultPath() {
    const QString besideFolder = QCoreApplication::applicationDirPath();
    const QString beside = QDir(besideFolder).filePath(fileName());
    const QString userFolder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("vxrt7-config"));
    const QString user = QDir(userFolder).filePath(fileName());
    // Beside the program only where it can also be written there (a build,
    // a portable copy): an installed program's folder is not the user's, and
    // the file read at start must be the one written at close.
    const bool besideWritable = platform::folderWritable(besideFolder) &&
                                (!QFileInfo::exists(beside) || platform::folderWritable(beside));
    if (besideWritable && QFileInfo::exists(beside)) {
        return beside;
    }
    if (QFileInfo::exists(user)) {
        return user;
    }
    return besideWritable ? beside : user;
}

Settings Settings::read(const QString& path) {
    Settings settings;
    IniFileError error;
    const auto ini = IniFile::load(QFile::encodeName(path).toStdString(), &error);
    if (!ini) {
        return settings; // no file yet, or unreadable: the defaults
    }
    settings.port = cp1251::toUtf8(ini->readString(kSection, "Port", "COM1"));
    settings.baudrate = ini->readInteger(kSection, "Baudrate", 12);
    settings.modProv = ini->readInteger(kSection, "Mod_prov", 2);
    settings.devProv = ini->readInteger(kSection, "Dev_prov", 2);
    settings.serverPort =
        static_cast<std::uint32_t>(ini->readInteger(kSection, "Server_port", 2020));
    settings.serverAddress = ini->readString(kSection, "Server_address", "");
    settings.fastExchange = ini->readInteger(kSection, "Fast_exchange", 0) == 1;
    std::string peers = ini->readString(kSection, "Allowed_peers", "");
    std::replace(peers.begin(), peers.end(), ',', ' ');
    std::istringstream words(peers);
    for (std::string peer; words >> peer;) {
        settings.allowedPeers.push_back(peer);
    }
    return settings;
}

std::optional<std::string> Settings::write(const QString& path) const {
    const std::string file = QFile::encodeName(path).toStdString();
    QDir().mkpath(QFileInfo(path).absolutePath());

    IniFileError error;
    auto ini = IniFile::load(file, &error);
    if (!ini) {
        if (error.code != ENOENT) {
            return error.message;
        }
        ini = IniFile();
    }
    std::optional<std::string> problem;
    const auto portBytes = cp1251::fromUtf8(port);
    if (portBytes.ok()) {
        ini->writeString(kSection, "Port", portBytes.bytes);
    } else {
        problem =
            "Порт \"" + port + "\" не сохранен в файле настроек: " + portBytes.error->message();
        ini->writeString(kSection, "Port", ini->readString(kSection, "Port", "COM1"));
    }
    ini->writeInteger(kSection, "Baudrate", baudrate & 0xFF);
    ini->writeInteger(kSection, "Mod_prov", modProv);
    ini->writeInteger(kSection, "Dev_prov", devProv);
    ini->writeInteger(kSection, "Server_port", serverPort);
    if (fastExchange || ini->readString(kSection, "Fast_exchange", "") != "") {
        ini->writeInteger(kSection, "Fast_exchange", fastExchange ? 1 : 0);
    }
    if (!ini->save(file, &error)) {
        return error.message;
    }
    return problem;
}
