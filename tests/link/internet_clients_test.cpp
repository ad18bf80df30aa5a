// The Internet server's decisions about its clients, driven with explicit
// times: where the announcement may stand, which bound decides, and how
// refusals are summed up. (The real server on loopback sockets is tested in
// internet_link_qt_test.cpp.)
#include "link/internet_clients.h"
#include "session/event_text.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The log lines of the server's notes, as the window shows them.
std::vector<std::string> lines(const std::vector<SessionEvent>& notes) {
    std::vector<std::string> out;
    for (const SessionEvent& note : notes) {
        const EventText text = eventText(note);
        out.insert(out.end(), text.log.begin(), text.log.end());
    }
    return out;
}
// What panel 2 says after an event; empty: unchanged.
std::string panel(const std::optional<events::InternetClient>& status) {
    return status ? eventText(*status).link.value_or("") : std::string();
}

// One read (bytes at a time) or, with no bytes, a tick at that time.
struct Step {
    std::int64_t atMs;
    std::string bytes;
};

struct Outcome {
    bool device = false;
    bool closed = false;
    std::int64_t decidedAtMs = -1;
    std::string analysed; // every chunk, joined
    std::size_t longestChunk = 0;
    std::vector<std::string> log;
};

Outcome run(const std::vector<Step>& steps) {
    InternetClients clients;
    Outcome o;
    const auto take = [&](const InternetClients::Actions& a, std::int64_t at) {
        for (const auto& chunk : a.analyse) {
            o.analysed += chunk;
            o.longestChunk = std::max(o.longestChunk, chunk.size());
        }
        for (const int c : a.close) {
            o.closed = o.closed || c == 1;
        }
        const std::vector<std::string> said = lines(a.log);
        o.log.insert(o.log.end(), said.begin(), said.end());
        if (o.decidedAtMs < 0 && (clients.device() == 1 || o.closed)) {
            o.decidedAtMs = at;
        }
    };
    take(clients.accepted(1, "::ffff:10.1.2.3", 40001, 0), 0);
    for (const Step& step : steps) {
        if (step.bytes.empty()) {
            take(clients.tick(step.atMs), step.atMs);
        } else {
            take(clients.received(1, step.bytes.data(), step.bytes.size(), step.atMs), step.atMs);
        }
    }
    o.device = clients.device() == 1;
    return o;
}

struct Case {
    const char* what;
    std::vector<Step> steps;
    bool device;
    std::int64_t decidedAtMs;
    std::string analysed; // from "CONNECT" on, for a device
};

} // namespace

TEST(InternetClients, TheAnnouncementRuleDecidesAtTheRightByteOrTime) {
    const std::string x1000(1000, 'x');
    const std::vector<Case> cases = {
        {"line ends around it", {{0, "\r\nCONNECT\r\n"}}, true, 0, "CONNECT\r\n"},
        {"zero bytes before it: the analysis must not stop at them",
         {{0, std::string("\0\0CONNECT\r\n", 11)}},
         true,
         0,
         "CONNECT\r\n"},
        {"after a banner line, in three reads",
         {{0, "GPRS modem v2\r\nCO"}, {30, "NNE"}, {60, "CT\n"}},
         true,
         60,
         "CONNECT\n"},
        {"bare at the end: linked once nothing followed for the quiet time",
         {{0, " CONNECT"}, {499, ""}, {500, ""}},
         true,
         500,
         "CONNECT"},
        {"a proxy request cut right after its method",
         {{0, "CONNECT"}, {100, ""}, {200, " example.org:443 HTTP/1.1\r\n"}},
         false,
         200,
         ""},
        {"a proxy request cut inside its version",
         {{0, "CONNECT example.org:443 HTTP/"}, {700, ""}, {900, "1.1\r\n\r\n"}},
         false,
         900,
         ""},
        {"a GET before the announcement", {{0, "GET / HTTP/1.0\r\nCONNECT\r\n"}}, false, 0, ""},
        {"a TLS hello",
         {{0, std::string("\x16\x03\x01\x02\x00\x01\x00", 7) + "CONNECT\r\n"}},
         false,
         0,
         ""},
        {"not within the first 1024 bytes",
         {{0, x1000}, {10, std::string(20, 'y') + "CONNECT\r\n"}},
         false,
         10,
         ""},
        {"an open line at 1024 bytes holding it",
         {{0, x1000 + "CONNECT"}, {10, std::string(300, 'z')}},
         true,
         10,
         "CONNECT" + std::string(300, 'z')},
        {"an open line at the time-out holding it",
         {{0, "CONNECT 9600"}, {9999, ""}, {10000, ""}},
         true,
         10000,
         "CONNECT 9600"},
        {"lines without it until the time-out",
         {{0, "\r\n"}, {5000, "SSH-2.0-OpenSSH_9.2\r\n"}, {9999, ""}, {10000, ""}},
         false,
         10000,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome o = run(c.steps);
        EXPECT_EQ(o.device, c.device);
        EXPECT_EQ(o.closed, !c.device);
        EXPECT_EQ(o.decidedAtMs, c.decidedAtMs);
        EXPECT_EQ(o.analysed, c.analysed);
        if (c.device) {
            EXPECT_EQ(o.log,
                      std::vector<std::string>{"Интернет - подключение с адреса 10.1.2.3:40001"});
        } else {
            ASSERT_EQ(o.log.size(), 1u);
            EXPECT_NE(o.log[0].find("Интернет - клиент с адреса 10.1.2.3 "), std::string::npos);
        }
    }

    // What came with the announcement goes to the analysis in reads of at
    // most 1024 bytes.
    const Outcome big =
        run({{0, std::string(600, '\r')}, {5, "CONNECT" + std::string(1500, '\n')}});
    EXPECT_TRUE(big.device);
    EXPECT_EQ(big.analysed, "CONNECT" + std::string(1500, '\n'));
    EXPECT_EQ(big.longestChunk, 1024u);
}

TEST(InternetClients, ANewerDeviceReplacesTheOlderAndPanelTwoFollowsTheClients) {
    InternetClients clients;
    const std::string linked = "Интернет - Соединение установлено";
    const std::string gone = "Интернет - Соединение прервано";
    EXPECT_EQ(panel(clients.accepted(1, "10.0.0.1", 5001, 0).status), linked);
    EXPECT_EQ(panel(clients.accepted(2, "10.0.0.2", 5002, 0).status), linked);
    clients.received(1, "CONNECT\r\n", 9, 10);
    EXPECT_EQ(clients.device(), 1);

    // A stranger closed by the server while the device stays.
    const auto stranger = clients.received(2, "GET / HTTP/1.1\r\n", 16, 20);
    EXPECT_EQ(stranger.close, std::vector<int>{2});
    EXPECT_EQ(panel(stranger.status), linked);

    // The same device comes back on a new connection; the old one is closed.
    clients.accepted(3, "10.0.0.1", 5003, 30);
    const auto again = clients.received(3, "\r\nCONNECT\r\n", 11, 40);
    EXPECT_EQ(again.close, std::vector<int>{1});
    EXPECT_EQ(again.analyse, std::vector<std::string>{"CONNECT\r\n"});
    EXPECT_EQ(panel(again.status), linked);
    // The note names both connections; the formatter makes its line.
    const auto* replaced = std::get_if<events::DeviceReplaced>(&again.log.back());
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced->older, "10.0.0.1:5001");
    EXPECT_EQ(replaced->newer, "10.0.0.1:5003");
    EXPECT_EQ(lines(again.log).back(),
              "Интернет - прежнее соединение прибора с адреса 10.0.0.1:5001 "
              "закрыто: прибор подключился снова с адреса 10.0.0.1:5003");
    EXPECT_EQ(clients.device(), 3);
    EXPECT_EQ(clients.count(), 1);

    // A silent client closed at its time-out, then the device leaves.
    clients.accepted(4, "10.0.0.4", 5004, 50);
    EXPECT_EQ(panel(clients.tick(50 + InternetClients::kAnnounceTimeoutMs).status), linked);
    EXPECT_EQ(panel(clients.closed(3).status), gone);
    EXPECT_EQ(clients.device(), 0);
    // One that never announced itself leaves: still nobody.
    clients.accepted(5, "10.0.0.5", 5005, 60);
    EXPECT_EQ(panel(clients.closed(5).status), gone);
    EXPECT_FALSE(clients.closed(5).status); // already gone: nothing changes

    // Two bare announcements decided by the same quiet time: the newer one is
    // the device, and nothing of the older one, closed at once, is analysed.
    clients.accepted(6, "10.0.0.6", 5006, 100);
    clients.accepted(7, "10.0.0.7", 5007, 100);
    EXPECT_TRUE(clients.received(6, "xCONNECT", 8, 110).analyse.empty());
    EXPECT_TRUE(clients.received(7, "yCONNECT", 8, 120).analyse.empty());
    const auto both = clients.tick(2000);
    EXPECT_EQ(both.close, std::vector<int>{6});
    EXPECT_EQ(both.analyse, std::vector<std::string>{"CONNECT"});
    EXPECT_EQ(clients.device(), 7);
}

TEST(InternetClients, RefusalsAfterTheFirstAreCountedAndSummedUpEveryTenSeconds) {
    InternetClients clients;
    clients.allowedPeers = {"10.0.0.9"};
    int next = 1;
    // A probe at `at`: alternately one not on the list and one that is but
    // speaks HTTP. Returns its log lines.
    const auto probe = [&](std::int64_t at) {
        const int c = next++;
        InternetClients::Actions a = clients.accepted(c, c % 2 ? "10.0.0.1" : "10.0.0.9", 1, at);
        if (a.close.empty()) {
            a = clients.received(c, "GET / HTTP/1.1\r\n", 16, at);
        }
        EXPECT_FALSE(a.close.empty()) << at;
        return lines(a.log);
    };
    const auto tickLog = [&](std::int64_t at) { return lines(clients.tick(at).log); };
    const std::string summary = "Интернет - за 10 с закрыто еще соединений не от прибора: ";

    EXPECT_EQ(probe(1000), std::vector<std::string>{"Интернет - адрес 10.0.0.1 не в списке "
                                                    "разрешенных: соединение закрыто"});
    for (std::int64_t t = 1100; t < 11000; t += 100) {
        EXPECT_TRUE(probe(t).empty()) << t;
    }
    EXPECT_TRUE(clients.waiting());
    EXPECT_TRUE(tickLog(10999).empty());
    EXPECT_EQ(tickLog(11000), std::vector<std::string>{summary + "99"});
    // Counting goes on for the next 10 s.
    EXPECT_TRUE(probe(12000).empty());
    EXPECT_TRUE(probe(20999).empty());
    EXPECT_TRUE(tickLog(20000).empty());
    EXPECT_EQ(tickLog(21000), std::vector<std::string>{summary + "2"});
    // A quiet 10 s ends it: the next refusal is logged in full again.
    EXPECT_FALSE(clients.waiting());
    EXPECT_TRUE(tickLog(31000).empty());
    EXPECT_EQ(probe(31500).size(), 1u);
    // A summary that falls due when the next refusal comes, without a tick
    // between, is logged then, and that refusal is counted in the next one.
    EXPECT_TRUE(probe(32000).empty());
    EXPECT_EQ(probe(41600), std::vector<std::string>{summary + "1"});
    // Stopping the server logs what is still counted.
    EXPECT_EQ(lines(clients.clear().log),
              std::vector<std::string>{"Интернет - закрыто еще соединений не от прибора: 1"});
    EXPECT_TRUE(clients.clear().log.empty());
}
