// The link controller driven tick by tick, with the real serial port
// component on a pseudo-terminal whose master plays the device.
#include "session/device_session.h"
#include "tests/support/device_holder.h"
#include "tests/support/link_parts.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A pseudo-terminal: the configurator opens the slave, the test is the device on the master.
struct Device {
    int master = -1;
    int slave = -1; // kept open so the master never sees a hang-up while the port is closed
    std::string path;
    Device() {
        char name[128] = {};
        EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Device() { closeAll(); }
    void closeAll() {
        if (slave >= 0) {
            ::close(slave);
        }
        if (master >= 0) {
            ::close(master);
        }
        slave = master = -1;
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the configurator wrote, waiting up to timeoutMs for the first byte.
    std::string received(int timeoutMs = 500) const {
        std::string out;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            return out;
        }
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            out.append(buf, static_cast<std::size_t>(n));
            if (::poll(&p, 1, 20) <= 0) {
                break;
            }
        }
        return out;
    }
};

const std::string kGreeting = std::string("VELIRAN ") + char(30) + "#";

// The link alone, driven as the session drives it: this harness is the
// link's client. Its chunks go to the real reply analysis (so the greeting
// links), and it records what the ticks and events handed back.
struct Harness : InternetTransport, LinkParts {
    Device device;
    // What a chunk ready does; by default the reply analysis reads it.
    // What the replies ask of the rest of the session is not carried out.
    std::function<void()> analyse = [this] {
        replies.takeSerial();
        while (replies.next()) {
        }
    };
    int analyses = 0;
    // The watchdogs and the lost port, in the order the link handed them back.
    std::vector<std::string> reports;
    // The Internet server this client runs, once attached.
    std::string serverSent;
    std::vector<int> serverStops; // the delay of each stop asked for
    bool listening = false;
    // What Connect is given: the device number and the server port typed.
    std::string number = "00000000000";
    std::string serverPort = "2020";

    Harness() {
        port.setReceivedHandler([this](std::uint32_t count) { bytesArrived(count); });
        port.setLostHandler([this] {
            if (link.portLost()) {
                reports.emplace_back("port gone");
            }
        });
        link.state.portName = device.path;
    }
    ~Harness() override { port.Close(); }

    // Every chunk the link has ready, analysed as the session does.
    void analyseChunks() {
        while (link.beginChunk()) {
            ++analyses;
            try {
                analyse();
            } catch (...) {
                link.endChunk(false);
                throw;
            }
            link.endChunk(true);
        }
    }
    void bytesArrived(std::uint32_t count) {
        link.bytesArrived(count);
        analyseChunks();
    }
    void tick() {
        if (link.receiveTick()) {
            analyseChunks();
        }
        const WatchdogsFired fired = link.watchdogTick();
        if (fired.reply) {
            reports.emplace_back("reply watchdog");
        }
        if (fired.bootloader) {
            reports.emplace_back("boot watchdog");
        }
    }
    // InternetTransport
    int sendToClient(const std::uint8_t* bytes, std::size_t count) override {
        serverSent.append(reinterpret_cast<const char*>(bytes), count);
        return static_cast<int>(count);
    }
    void stopServer(int afterMs) override { serverStops.push_back(afterMs); }
    bool serverListening() const override { return listening; }
    bool clientLinked() const override { return false; }

    void connect() { link.connect(number, serverPort); }

    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            tick();
        }
    }
    // Runs the receive events until the controller has counted `bytes`.
    void deliver(std::uint32_t bytes) {
        ASSERT_TRUE(dispatcher.runUntil([&] { return link.state.rxCount >= bytes; }, 2000))
            << "rxCount " << link.state.rxCount;
    }
    // Opens the port and answers the greeting: the Linked (serial) state.
    void linkUp() {
        link.tick1s();
        ASSERT_TRUE(link.state.portReady);
        link.tick1s();
        ASSERT_EQ(device.received(), "CONFO");
        device.send(kGreeting);
        deliver(static_cast<std::uint32_t>(kGreeting.size()));
        ticks(14);
        link.tick1s();
        ASSERT_TRUE(link.state.remoteConnected);
        view.log.clear();
    }
};

TEST(LinkController, PortTimerOpensGreetsAndLinks) {
    Harness h;
    h.link.tick1s();
    EXPECT_TRUE(h.link.state.portReady);
    EXPECT_TRUE(h.port.Enabled());
    EXPECT_EQ(h.view.panels[1], h.device.path);
    EXPECT_EQ(h.view.panels[2], "Порт " + h.device.path + " открыт");

    // Without an answer "CONFO" goes out once a second, indefinitely.
    for (int second = 0; second < 3; ++second) {
        h.link.tick1s();
        EXPECT_EQ(h.device.received(), "CONFO");
        EXPECT_EQ(h.view.panels[2], "Поиск...");
    }
    EXPECT_TRUE(h.link.portTimerEnabled());

    h.device.send(kGreeting);
    h.deliver(10);
    h.ticks(14);
    EXPECT_TRUE(h.link.state.linkUp);
    EXPECT_TRUE(h.link.state.remoteConnected);
    EXPECT_TRUE(h.link.state.directDevice);
    EXPECT_EQ(h.view.panels[2], "Coeдинение установлено: \"Велиран\", версия ПО: 30");
    EXPECT_EQ(h.view.log.back(), "Соединение установлено");

    // The next port tick stops the greeting and enables the link buttons.
    h.link.tick1s();
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_TRUE(h.view.phase.manualConnect);
    EXPECT_TRUE(h.view.phase.linkHeld);
    EXPECT_EQ(h.device.received(100), "");
}

TEST(LinkController, GreetingWithoutHashShowsVersionZero) {
    Harness h;
    h.link.tick1s();
    h.device.send(std::string("xxVELIRAN ") + char(30) + "!");
    h.deliver(12);
    h.ticks(14);
    EXPECT_EQ(h.view.panels[2], "Coeдинение установлено: \"Велиран\", версия ПО: 0");
}

TEST(LinkController, PortHeldElsewhereIsBusyAndStopsTheTimer) {
    Harness h;
    const int holder = ::open(h.device.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    h.link.tick1s();
    ::close(holder);
    EXPECT_FALSE(h.link.state.portReady);
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_EQ(h.view.panels[1], "NC");
    EXPECT_EQ(h.view.panels[2], "Порт " + h.device.path + " занят");

    // Connect without a ready port only re-enables the port timer.
    h.connect();
    EXPECT_TRUE(h.link.portTimerEnabled());
    EXPECT_EQ(h.device.received(100), "");
    h.link.tick1s();
    EXPECT_TRUE(h.link.state.portReady);
}

TEST(LinkController, AnalysisRunsOnTheQuietTick) {
    Harness h;
    h.link.tick1s();
    h.device.send(kGreeting);
    h.deliver(10);
    EXPECT_EQ(h.link.state.rxCountdown, 15);
    h.ticks(13);
    EXPECT_EQ(h.analyses, 0);
    EXPECT_FALSE(h.link.state.linkUp);
    h.ticks(1);
    EXPECT_EQ(h.analyses, 1);
    EXPECT_TRUE(h.link.state.linkUp);
    EXPECT_EQ(h.link.state.rxCount, 0u);
    h.ticks(1);
    EXPECT_EQ(h.link.state.rxCountdown, 0);
    h.ticks(50);
    EXPECT_EQ(h.analyses, 1);
    EXPECT_FALSE(h.link.tickNeeded());

    // With the quiet time of a configuration write, the 4th tick.
    h.link.state.quietTicks = 5;
    h.bytesArrived(1);
    h.ticks(3);
    EXPECT_EQ(h.analyses, 1);
    h.ticks(1);
    EXPECT_EQ(h.analyses, 2);
}

TEST(LinkController, ReceiveEventsPostponeTheAnalysisAndCapTheCount) {
    Harness h;
    // An event every 10 ticks (200 ms) keeps the analysis from running at all.
    for (int i = 0; i < 20; ++i) {
        h.bytesArrived(1);
        h.ticks(10);
    }
    EXPECT_EQ(h.analyses, 0);
    h.ticks(3);
    EXPECT_EQ(h.analyses, 0);
    h.ticks(1); // 14 ticks after the last event
    EXPECT_EQ(h.analyses, 1);

    h.bytesArrived(700);
    h.bytesArrived(600);
    EXPECT_EQ(h.link.state.rxCount, 1024u);
    h.bytesArrived(0xFFFFFFFFu);
    EXPECT_EQ(h.link.state.rxCount, 1024u);
}

TEST(LinkController, AnalysisDiscardsWhatItDidNotRead) {
    Harness h;
    h.link.tick1s();
    const std::string big(3000, 'x');
    h.device.send(big);
    h.deliver(1024);
    // Let the rest of the bytes arrive and be announced before the quiet tick.
    h.dispatcher.runUntil([&] { return h.port.InQueCount() >= 3000; }, 1000);
    h.dispatcher.runPending();
    h.ticks(14);
    EXPECT_EQ(h.analyses, 1);
    EXPECT_EQ(h.port.InQueCount(), 0);
}

TEST(LinkController, AnAnswerArrivingDuringTheAnalysisIsKeptForTheNextChunk) {
    Harness h;
    h.link.tick1s();
    std::vector<std::string> chunks;
    h.analyse = [&] {
        std::uint8_t buf[1100] = {};
        const std::size_t n = h.link.readChunk(buf, 1024);
        chunks.emplace_back(reinterpret_cast<const char*>(buf), n);
        if (chunks.size() == 1) {
            // The analysis answers the device, and the device answers at once,
            // before the analysis is over.
            h.device.send("+NTF:1");
            for (int i = 0; i < 200 && h.port.InQueCount() < 6; ++i) {
                ::usleep(5000); // its announcement waits for the window's thread
            }
            ASSERT_GE(h.port.InQueCount(), 6);
        }
    };
    h.device.send("first");
    h.deliver(5);
    h.ticks(14);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], "first");
    // The answer was announced after the analysis and is analysed on its own.
    h.deliver(6);
    h.ticks(14);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1], "+NTF:1");
}

TEST(LinkController, ReplyWatchdogFiresOnThe1000thTick) {
    Harness h;
    h.linkUp();
    h.link.startReplyWatchdog();
    EXPECT_TRUE(h.link.tickNeeded());
    h.ticks(999);
    EXPECT_TRUE(h.link.state.remoteConnected);
    EXPECT_TRUE(h.view.log.empty());
    h.ticks(1);
    EXPECT_EQ(h.link.state.replyTimer, 0u);
    EXPECT_FALSE(h.link.state.remoteConnected);
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Потеряна связь (нет ответа)!"});
    EXPECT_EQ(h.reports, std::vector<std::string>{"reply watchdog"});
    EXPECT_FALSE(h.view.phase.linkHeld);
    // Nothing else changes: the port, linkUp and the port timer stay.
    EXPECT_TRUE(h.link.state.linkUp);
    EXPECT_TRUE(h.port.Enabled());
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_FALSE(h.link.tickNeeded());

    // Connect sends the greeting again and the greeting restores the link.
    h.connect();
    EXPECT_EQ(h.device.received(), "CONFO");
    EXPECT_TRUE(h.view.phase.linkHeld);
    h.device.send(kGreeting);
    h.deliver(10);
    h.ticks(14);
    EXPECT_TRUE(h.link.state.remoteConnected);
}

TEST(LinkController, BootloaderWatchdogFiresOnThe100thTick) {
    Harness h;
    h.linkUp();
    h.link.setPhase(&LinkPhase::imageReady, true);
    h.link.setPhase(&LinkPhase::bootloaderReady, true);
    h.link.setPortTimerEnabled(true);
    h.link.startBootWatchdog();
    h.ticks(99);
    EXPECT_TRUE(h.view.messages.empty());
    h.ticks(1);
    EXPECT_EQ(h.link.state.bootTimer, 0u);
    EXPECT_FALSE(h.view.phase.imageReady);
    EXPECT_FALSE(h.view.phase.bootloaderReady);
    EXPECT_TRUE(h.link.state.bootloaderMode);
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_EQ(h.view.panels[2], "Ожидается соединение с загрузчиком...");
    EXPECT_EQ(h.reports, std::vector<std::string>{"boot watchdog"});
    EXPECT_FALSE(h.link.state.linkUp);
    EXPECT_EQ(h.view.firmwareResets, 1);
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Потеряна связь (нет ответа)!"});
    EXPECT_EQ(h.view.messages, std::vector<std::string>{"Потеряна связь (нет ответа)!"});
}

TEST(LinkController, ConnectDisconnectAndOfflineInEachState) {
    Harness h;
    // Disconnect without a link.
    h.link.disconnect();
    EXPECT_EQ(h.view.log.back(), "Установите соединение");

    h.linkUp();
    h.connect();
    EXPECT_EQ(h.view.log.back(), "Соединение уже установлено");

    h.link.startReplyWatchdog();
    h.link.disconnect();
    EXPECT_EQ(h.device.received(), "CONFC\r");
    EXPECT_FALSE(h.link.state.remoteConnected);
    EXPECT_TRUE(h.link.state.linkUp);
    EXPECT_EQ(h.link.state.replyTimer, 0u);
    EXPECT_TRUE(h.port.Enabled());

    // Linked again, then work offline: "CONFC\r" goes out before the port closes.
    h.connect();
    EXPECT_EQ(h.device.received(), "CONFO");
    h.device.send(kGreeting);
    h.deliver(10);
    h.ticks(14);
    h.link.goOffline();
    EXPECT_EQ(h.device.received(), "CONFC\r");
    EXPECT_FALSE(h.port.Enabled());
    EXPECT_FALSE(h.link.state.portReady);
    EXPECT_FALSE(h.link.state.linkUp);
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_EQ(h.view.panels[1], "NC");
    EXPECT_EQ(h.view.panels[2], "Автономный режим");
    EXPECT_FALSE(h.view.phase.serialMode);
    EXPECT_TRUE(h.view.phase.manualConnect);
    EXPECT_FALSE(h.view.phase.linkHeld);

    // Connect from offline searches again.
    h.connect();
    EXPECT_TRUE(h.link.portTimerEnabled());
    EXPECT_TRUE(h.view.phase.serialMode);
}

TEST(LinkController, ModemCallNeedsANumberAndAServerPort) {
    Harness h;
    h.link.tick1s();
    h.link.state.directDevice = false; // a modem answered on the port
    h.connect();
    EXPECT_EQ(h.view.log.back(), "Введите номер устройства");
    EXPECT_EQ(h.device.received(100), "");
    EXPECT_TRUE(h.view.phase.linkHeld);

    h.number = "89001234567";
    h.serverPort = "70000";
    h.connect();
    EXPECT_EQ(h.view.messages.size(), 1u);
    EXPECT_FALSE(h.link.state.dialing);
    EXPECT_EQ(h.device.received(100), "");

    h.serverPort = "3030";
    h.connect();
    EXPECT_EQ(h.device.received(), "AT\r");
    EXPECT_TRUE(h.link.state.dialing);
    EXPECT_EQ(h.link.state.serverPort, 3030u);
    h.connect();
    EXPECT_EQ(h.view.log.back(), "Соединение в процессе установки");
}

TEST(LinkController, DisconnectOnTheInternetLinkSendsClosedThenStopsTheServer) {
    Harness h;
    h.link.state.remoteConnected = true;
    h.link.state.directDevice = false;
    // Without a server nothing goes anywhere.
    h.link.disconnect();
    EXPECT_EQ(h.serverSent, "");
    EXPECT_FALSE(h.link.state.remoteConnected);

    h.link.attachInternet(&h);
    h.link.state.remoteConnected = true;
    h.link.disconnect();
    EXPECT_EQ(h.serverSent, "CLOSED");
    // The device gets 100 ms to take it before the server goes.
    EXPECT_EQ(h.serverStops, std::vector<int>{100});
    EXPECT_FALSE(h.link.state.remoteConnected);
    EXPECT_EQ(h.device.received(100), "");
}

TEST(LinkController, DiagnosticModeSendsAndEchoes) {
    Harness h;
    h.link.tick1s();
    h.link.setDiagnostics(true);
    EXPECT_TRUE(h.link.state.debugMode);
    h.link.sendDiagnostic("AT");
    EXPECT_EQ(h.device.received(), "AT\r");
    EXPECT_EQ(h.view.log.back(), "AT");

    // Received text is shown too.
    h.device.send("OK\r\n");
    h.deliver(4);
    h.ticks(14);
    EXPECT_EQ(h.view.log.back(), "OK\r\n");

    // Cyrillic goes out as code page 1251.
    h.link.sendDiagnostic("Ж");
    EXPECT_EQ(h.device.received(), "\xC6\r");

    // Too long for the send buffer, or not representable: refused, nothing sent.
    h.link.sendDiagnostic(std::string(99, 'A'));
    EXPECT_EQ(h.device.received(100), "");
    EXPECT_NE(h.view.log.back().find("не более 99"), std::string::npos) << h.view.log.back();
    h.link.sendDiagnostic(std::string(98, 'A'));
    EXPECT_EQ(h.device.received(), std::string(98, 'A') + "\r");
    h.link.sendDiagnostic("Ω");
    EXPECT_EQ(h.device.received(100), "");

    h.link.setDiagnostics(false);
    EXPECT_FALSE(h.link.state.debugMode);
    const auto lines = h.view.log.size();
    h.link.sendDiagnostic("AT");
    EXPECT_EQ(h.device.received(), "AT\r");
    EXPECT_EQ(h.view.log.size(), lines);
}

TEST(LinkController, ChoosingInternetWhileLinkedSaysGoodbyeAndBackToAPort) {
    Harness h;
    h.linkUp();
    h.link.choosePort("Интернет");
    EXPECT_EQ(h.device.received(), "CONFC\r"); // through Disconnect, before the port closes
    EXPECT_FALSE(h.port.Enabled());
    EXPECT_FALSE(h.link.state.portReady);
    EXPECT_FALSE(h.link.state.linkUp);
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_EQ(h.view.panels[1], "NC");
    EXPECT_EQ(h.view.panels[2], "Интернет");
    EXPECT_FALSE(h.view.phase.serialMode);
    EXPECT_TRUE(h.view.phase.manualConnect);
    EXPECT_FALSE(h.view.phase.linkHeld);
    EXPECT_TRUE(h.link.internetChosen());
    EXPECT_EQ(h.link.state.portName, h.device.path); // kept in Internet mode

    // A serial port again: the server stops, the search restarts.
    h.link.attachInternet(&h);
    h.listening = true;
    h.link.choosePort(h.device.path);
    EXPECT_EQ(h.serverStops, std::vector<int>{0});
    EXPECT_FALSE(h.link.internetChosen());
    EXPECT_TRUE(h.link.portTimerEnabled());
    h.link.tick1s();
    EXPECT_TRUE(h.link.state.portReady);
}

// Another program that merely has the port open (no lock; root passes
// TIOCEXCL) holds it: the port is not opened, nothing reaches the line, the
// status and the log say who holds it; Connect takes it once it is free.
TEST(LinkController, PortThatAnotherProgramHasOpenIsBusyUntilItLetsGo) {
    Harness h;
    auto holder = std::make_unique<DeviceHolder>(h.device.path);
    ASSERT_TRUE(holder->ok()) << holder->error();
    h.link.tick1s();
    EXPECT_FALSE(h.link.state.portReady);
    EXPECT_FALSE(h.port.Enabled());
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_EQ(h.link.lastOpen().error, comm::OpenError::Busy);
    EXPECT_EQ(h.view.panels[1], "NC");
    EXPECT_EQ(h.view.panels[2], "Порт " + h.device.path + " занят");
    ASSERT_FALSE(h.view.log.empty());
    EXPECT_EQ(h.view.log.back(), "Порт " + h.device.path + " занят программой sleep (pid " +
                                     std::to_string(holder->pid()) + ")");
    EXPECT_EQ(h.device.received(100), "");

    holder.reset();
    h.connect();
    h.linkUp();
}

TEST(LinkController, FirmwarePageTakesTheLineAndLeavingItGivesItBack) {
    Harness h;
    // With the port closed the firmware page opens it itself.
    h.link.enterBootloader();
    EXPECT_TRUE(h.port.Enabled());
    EXPECT_TRUE(h.link.state.bootloaderMode);
    EXPECT_EQ(h.link.state.quietTicks, 5);
    EXPECT_FALSE(h.link.portTimerEnabled());
    EXPECT_EQ(h.view.progress, 0);
    EXPECT_EQ(h.view.panels[2], "Порт " + h.device.path + " открыт");
    // Already open: only the bootloader text.
    h.link.enterBootloader();
    EXPECT_EQ(h.view.panels[2], "Ожидается соединение с загрузчиком...");

    // Back to a page in a serial mode with no device answering: the search
    // restarts and the status bar is left to the port timer.
    h.link.setPhase(&LinkPhase::bootloaderReady, true);
    h.view.panels[2] = "unchanged";
    h.link.leaveBootloader();
    EXPECT_FALSE(h.link.state.bootloaderMode);
    EXPECT_FALSE(h.view.phase.bootloaderReady);
    EXPECT_TRUE(h.link.portTimerEnabled());
    EXPECT_EQ(h.view.panels[2], "unchanged");

    // Offline, leaving the firmware page keeps the bootloader mode.
    h.link.goOffline();
    h.link.enterBootloader();
    h.link.leaveBootloader();
    EXPECT_TRUE(h.link.state.bootloaderMode);
    EXPECT_EQ(h.view.panels[2], "Автономный режим");
}

TEST(LinkController, UnpluggedPortIsReportedOnceAndFoundAgain) {
    // The port is reached through a link of this test's own, as /dev/serial/by-id
    // names are: a terminal number alone may be another test's by now.
    TempDir dir;
    const std::string link = dir.filePath("ttyUSB-lost");
    auto device = std::make_unique<Device>();
    ASSERT_EQ(::symlink(device->path.c_str(), link.c_str()), 0);

    ManualDispatcher dispatcher;
    RecordingView view;
    MemoryNumberGrid grid;
    DeviceSession session{&dispatcher, grid, view};
    TComm& port = session.port();
    LinkController& ctl = session.link();
    // The handshake: the greeting reaches this test's device, and only its
    // answer links, so the port opened is the one this test holds.
    const auto linkUp = [&](const Device& d) {
        ctl.tick1s();
        ASSERT_TRUE(ctl.state.portReady);
        ASSERT_EQ(view.panels[2], "Порт " + link + " открыт");
        ctl.tick1s();
        ASSERT_EQ(d.received(), "CONFO");
        d.send(kGreeting);
        ASSERT_TRUE(
            dispatcher.runUntil([&] { return ctl.state.rxCount >= kGreeting.size(); }, 2000));
        for (int i = 0; i < 14; ++i) {
            session.tick20ms();
        }
        ASSERT_TRUE(ctl.state.remoteConnected);
        ASSERT_TRUE(ctl.state.linkUp);
    };
    ctl.state.portName = link;
    linkUp(*device);

    device->closeAll(); // the adapter is pulled out, and its name goes with it
    ::unlink(link.c_str());
    ASSERT_TRUE(dispatcher.runUntil([&] { return !port.Enabled(); }, 3000));
    dispatcher.runUntil([] { return false; }, 200);
    int lossLines = 0;
    for (const auto& line : view.log) {
        lossLines += line == "Потеряна связь с портом " + link + " (устройство отключено)";
    }
    EXPECT_EQ(lossLines, 1);
    EXPECT_FALSE(ctl.state.portReady);
    EXPECT_FALSE(ctl.state.remoteConnected);
    EXPECT_TRUE(ctl.portTimerEnabled());
    EXPECT_EQ(view.panels[1], "NC");

    // Searching while it is away keeps the timer running and opens nothing.
    ctl.tick1s();
    EXPECT_FALSE(ctl.state.portReady);
    EXPECT_FALSE(port.Enabled());
    EXPECT_TRUE(ctl.portTimerEnabled());
    EXPECT_EQ(view.panels[2], "Порт " + link + " отключен. Поиск...");

    // Plugged in again (a new terminal behind the same name): found and
    // linked with the device this test plays.
    device = std::make_unique<Device>();
    ASSERT_EQ(::symlink(device->path.c_str(), link.c_str()), 0);
    linkUp(*device);
    EXPECT_FALSE(ctl.searchingLostPort());
    port.Close();
}

} // namespace

namespace {

// The fast exchange on a linked port: the analysis sees exactly one reply.
struct FastHarness : Harness {
    std::vector<std::string> chunks; // what each analysis read
    std::size_t sent = 0;            // bytes the device sent
    std::size_t analysed = 0;        // bytes the analyses read
    FastHarness() {
        analyse = [this] {
            std::uint8_t buffer[kRxBufferSize] = {};
            const std::size_t n = link.readChunk(buffer, sizeof buffer);
            chunks.emplace_back(reinterpret_cast<const char*>(buffer), n);
            analysed += n;
        };
        link.setFastExchange(true);
        link.tick1s();
    }
    // Sends the bytes and runs the receive events until the controller has
    // taken all of them, analysed or waiting; no tick runs meanwhile.
    void arrive(const std::string& bytes) {
        sent += bytes.size();
        device.send(bytes);
        ASSERT_TRUE(
            dispatcher.runUntil([&] { return analysed + link.state.rxCount >= sent; }, 2000))
            << "taken " << analysed + link.state.rxCount << " of " << sent;
    }
};

TEST(LinkControllerFast, AReplyCutAnywhereIsAnalysedWholeWithTheEventOfItsLastByte) {
    const std::string packet = "+IPD,26:E" + std::string("916123456\r\x0d\x00", 12) +
                               std::string("9160000000\x0a\x00", 12) + "@";
    const std::string config = "CONFR" + std::string(68, '\0');
    const std::string greeting("VELIRAN \x1e#", 10);
    struct Kind {
        std::string reply;
        bool bootloader;
        std::string next; // the following reply, of which only the start comes first
    };
    for (const Kind& k : {Kind{packet, false, greeting}, Kind{config, false, greeting},
                          Kind{"+NTF:1", false, greeting}, Kind{"Not corr\r", false, greeting},
                          Kind{std::string("RT\x02", 3), true, std::string("RT\x03", 3)}}) {
        for (std::size_t cut = 1; cut < k.reply.size(); ++cut) {
            SCOPED_TRACE(k.reply.substr(0, 6) + ", cut at " + std::to_string(cut));
            FastHarness h;
            h.link.state.bootloaderMode = k.bootloader;
            h.arrive(k.reply.substr(0, cut));
            h.ticks(10); // well inside the quiet time
            ASSERT_EQ(h.analyses, 0);
            h.arrive(k.reply.substr(cut) + k.next.substr(0, 2));
            ASSERT_EQ(h.chunks, std::vector<std::string>{k.reply}) << "before any tick";
            h.ticks(10); // the start of the next one waits for the rest
            ASSERT_EQ(h.analyses, 1);
            // The start of the next reply stayed queued for its own analysis.
            h.arrive(k.next.substr(2));
            ASSERT_EQ(h.chunks.size(), 2u);
            EXPECT_EQ(h.chunks[1], k.next);
            EXPECT_FALSE(h.link.tickNeeded()) << "nothing is left to count";
        }
    }
}

TEST(LinkControllerFast, WhatNeverEndsWaitsForTheQuietTimeAndNothingIsAnalysedTwice) {
    FastHarness h;
    h.arrive("BUSY");
    h.ticks(13);
    EXPECT_EQ(h.analyses, 0);
    h.ticks(1); // the same tick as without the fast exchange
    ASSERT_EQ(h.chunks, std::vector<std::string>{"BUSY"});
    EXPECT_EQ(h.port.InQueCount(), 0);

    // The bootloader's marks go at once, one each.
    h.link.state.bootloaderMode = true;
    h.link.state.quietTicks = 5;
    h.arrive("!@");
    EXPECT_EQ(h.chunks, (std::vector<std::string>{"BUSY", "!", "@"}));

    // An analysis that fails (a port error while answering) has still used
    // its reply: the next one does not bring it back.
    h.link.state.bootloaderMode = false;
    const auto analyse = h.analyse;
    h.analyse = [] { throw std::runtime_error("port gone"); };
    h.device.send("+NTF:1");
    for (int i = 0; i < 200 && h.port.InQueCount() < 6; ++i) {
        ::usleep(5000);
    }
    EXPECT_THROW(h.bytesArrived(6), std::runtime_error);
    h.analyse = analyse;
    h.sent += 6;
    h.analysed += 6;
    h.arrive("+EFA:1");
    EXPECT_EQ(h.chunks.back(), "+EFA:1");
    EXPECT_EQ(h.chunks.size(), 4u);

    // The quiet time's analysis runs on the tick and may let events run: a
    // reply whose receive event comes meanwhile waits until that analysis is
    // done, and each is analysed once, in order.
    h.analyse = [&] {
        analyse();
        if (h.chunks.back() == "BUSY2") {
            h.device.send("+NTF:0");
            ASSERT_TRUE(h.dispatcher.waitForPost(2000));
            h.dispatcher.runPending(); // its receive event, inside this analysis
        }
    };
    h.arrive("BUSY2");
    h.ticks(4);
    h.sent += 6;
    EXPECT_EQ(std::vector<std::string>(h.chunks.begin() + 4, h.chunks.end()),
              (std::vector<std::string>{"BUSY2", "+NTF:0"}));
    h.analyse = analyse;

    // Switched off, bytes already taken are not lost: they lead the next chunk.
    h.link.state.bootloaderMode = true;
    h.arrive("RT");
    h.link.setFastExchange(false);
    h.arrive("x");
    h.ticks(4);
    EXPECT_EQ(h.chunks.back(), "RTx");
}

} // namespace
