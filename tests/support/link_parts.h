// The link and its reply handling without a session, on the serial port
// component with a dispatcher the test runs: what a test harness of the link
// drives as the session would. The harness keeps the device (a
// pseudo-terminal) that the port opens, and closes the port before it goes.
#pragma once

#include "comm/tcomm.h"
#include "files/number_grid.h"
#include "link/link_controller.h"
#include "protocol/protocol_state.h"
#include "session/reply_handling.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/recording_view.h"

struct LinkParts {
    ManualDispatcher dispatcher;
    RecordingView view;
    MemoryNumberGrid grid;
    TComm port{dispatcher};
    LinkController link{port, view};
    ProtocolState protocol;
    ReplyHandler replies{link, protocol, &grid};
};
