#include "comm/main_thread_dispatcher_qt.h"

#include <QMetaObject>
#include <QObject>

QtMainThreadDispatcher::QtMainThreadDispatcher(QObject* contextObject) : context_(contextObject) {}

void QtMainThreadDispatcher::post(std::function<void()> call) {
    if (context_ == nullptr) {
        return;
    }
    // Queued even when posted from the context's own thread: the call never
    // runs inside post().
    QMetaObject::invokeMethod(context_, std::move(call), Qt::QueuedConnection);
}
