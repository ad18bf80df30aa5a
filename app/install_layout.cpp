#include "app/install_layout.h"

#include "app/settings.h"
#include "link/tcp_transport_qt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

// Set by the build from the GNU install folders: the module and documentation
// folders relative to the installed program's folder.
#ifndef VXRT7_MODULE_DIR_FROM_BIN
#define VXRT7_MODULE_DIR_FROM_BIN "../lib/vxrt7-config"
#endif
#ifndef VXRT7_DOC_DIR_FROM_BIN
#define VXRT7_DOC_DIR_FROM_BIN "../share/doc/vxrt7-config"
#endif

namespace install_layout {

namespace {

bool hasModule(const QString& folder) {
    return QFileInfo::exists(
        QDir(folder).filePath(QLatin1String(kTcpModuleName) + QLatin1String(".so")));
}

QString installedModuleFolder(const QString& programFolder) {
    return QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral(VXRT7_MODULE_DIR_FROM_BIN)));
}

} // namespace

QString programFolder() {
    return QCoreApplication::applicationDirPath();
}

QString moduleFolder(const QString& programFolder) {
    if (hasModule(programFolder)) {
        return programFolder;
    }
    const QString installed = installedModuleFolder(programFolder);
    return hasModule(installed) ? installed : programFolder;
}

bool isInstalled(const QString& programFolder) {
    return !hasModule(programFolder) && hasModule(installedModuleFolder(programFolder));
}

QString userSettingsPath() {
    const QString folder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("vxrt7-config"));
    return QDir(folder).filePath(Settings::fileName());
}

QStringList manualFolders(const QString& programFolder) {
    QStringList folders{
        programFolder,
        QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral(VXRT7_DOC_DIR_FROM_BIN))),
        QStringLiteral("/usr/share/doc/vxrt7-config")};
    folders.removeDuplicates();
    return folders;
}

} // namespace install_layout
