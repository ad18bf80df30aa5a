// What the serial port tests share: a pseudo-terminal pair, a dispatcher the
// test thread pumps as the window's thread, and the component on the slave.
#pragma once

#include "comm/comm_event_thread.h"
#include "comm/tcomm.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/pty_pair.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

class CommPortTest : public ::testing::Test {
  protected:
    // Opens comm on the pair's slave; fails the test when it stays closed.
    void openPort() {
        comm.SetDeviceName(pty.slavePath);
        comm.Open();
        ASSERT_TRUE(comm.Enabled()) << "could not open " << pty.slavePath;
    }

    PtyPair pty;
    ManualDispatcher dispatcher;
    TComm comm{dispatcher}; // last, so it closes before the line and the dispatcher go
};

// Runs call and checks that it raises ECommError with exactly this message
// and code.
inline void expectCommError(const std::function<void()>& call, const std::string& message,
                            int code) {
    try {
        call();
        ADD_FAILURE() << "no error raised, expected \"" << message << "\"";
    } catch (const ECommError& e) {
        EXPECT_EQ(std::string(e.what()), message);
        EXPECT_EQ(e.code(), code);
    }
}
