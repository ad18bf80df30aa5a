// The program's dispatcher: runs the serial port's events on the thread of a
// QObject (the main window) through the Qt event loop.
#pragma once

#include "comm/dispatcher.h"

class QObject;

class QtMainThreadDispatcher : public comm::TMainThreadDispatcher {
  public:
    // Calls run on the thread of contextObject. It must outlive every port
    // that posts here while open (the window closes its port before it
    // goes); calls still queued when it is destroyed are dropped by Qt.
    explicit QtMainThreadDispatcher(QObject* contextObject);
    void post(std::function<void()> call) override;

  private:
    QObject* context_;
};
