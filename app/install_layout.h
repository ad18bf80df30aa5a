// Where the program finds its parts. In the build folder everything lies
// beside the program; once installed (cmake --install, the Debian package) the
// Internet server module lies in lib/<multiarch>/vxrt7-config/ and the manual in
// share/doc/vxrt7-config/, both found relative to the program's own folder,
// so that a staging prefix or /usr/local works as well as /usr.
#pragma once

#include <QString>
#include <QStringList>

namespace install_layout {

// The folder the running program lies in.
QString programFolder();

// The folder of the module vxrt7-tcp.so: beside the program when it is there,
// otherwise the installed module folder relative to the program.
QString moduleFolder(const QString& programFolder);

// True for an installed program: its module is not beside it but in the
// installed module folder. Such a program keeps its settings in the user's
// configuration folder whether or not its own folder can be written (root
// can write /usr/bin, and a settings file does not belong there).
bool isInstalled(const QString& programFolder);

// "$XDG_CONFIG_HOME/vxrt7-config/Сonfig.ini" (~/.config/... when unset).
QString userSettingsPath();

// The folders searched for the user manual, in order: beside the program,
// the installed documentation folder relative to it, /usr/share/doc/vxrt7-config.
QStringList manualFolders(const QString& programFolder);

inline constexpr const char* kManualName = "UserManual_VX-RT-7.pdf";

} // namespace install_layout
