// What the window asks of the operating system beyond Qt, in one place: the
// signals that close it, and whether a folder may be written. POSIX in
// platform_posix.cpp; a Windows build with Qt adds platform_win.cpp.
#pragma once

#include <QString>

#include <functional>

class QObject;

namespace platform {

// From now on the signals that ask the program to end (SIGTERM, SIGINT,
// SIGHUP) call `onSignal` with the signal's number on the thread of
// `parent`, which owns what watches them.
void watchTerminationSignals(QObject* parent, std::function<void(int signal)> onSignal);

// True when this user may create files in `folder`.
bool folderWritable(const QString& folder);

} // namespace platform
