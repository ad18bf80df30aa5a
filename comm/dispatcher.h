// The serial port's event thread never calls into the window directly: it
// hands each event to the window's thread through a dispatcher. The program
// uses the Qt event loop (main_thread_dispatcher_qt.h); tests pump a queue of
// their own.
#pragma once

#include <functional>

namespace comm {

// Runs calls on the window's thread. post() must not block; the call runs
// later on that thread. A call may be dropped if the window's thread is gone.
class TMainThreadDispatcher {
  public:
    virtual ~TMainThreadDispatcher() = default;
    virtual void post(std::function<void()> call) = 0;
};

} // namespace comm
