// The bootloader exchange tick by tick: the real port component on a
// pseudo-terminal whose master plays the bootloader, the link controller's
// pacing and the serial reply analysis of a device session, as the window
// has them.
#include "session/device_session.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kLost = "Потеряна связь (нет ответа)!";

// What the firmware page would show.
struct PageRecord : RecordingView {
    std::string path;
    std::string version = "Версия:";
    int firstPageShown = 0;
    void event(const SessionEvent& e) override {
        RecordingView::event(e);
        if (const auto* image = std::get_if<events::FirmwareImage>(&e)) {
            path = image->path;
            version = firmwareVersionText(image->version);
        }
        firstPageShown += std::holds_alternative<events::FirmwareDone>(e) ? 1 : 0;
    }
};

bool logged(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

// The body byte i of the test images.
char bodyByte(std::size_t i) {
    return static_cast<char>(i * 7 + 3);
}

// The frame of block n as the bootloader must see it.
std::string expectedFrame(std::size_t n, std::size_t bodySize) {
    std::string f = {static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)};
    unsigned sum = 0;
    for (std::size_t i = n * 128; i < n * 128 + 128; ++i) {
        const char b = i < bodySize ? bodyByte(i) : '\xFF';
        f.push_back(b);
        sum += static_cast<unsigned char>(b);
    }
    f.push_back(static_cast<char>(sum & 0xFF));
    return f;
}

struct Rig {
    ManualDispatcher dispatcher;
    PageRecord view;
    PageRecord& page = view;
    MemoryNumberGrid grid;
    DeviceSession parts{&dispatcher, grid, view};
    TComm& port = parts.port();
    LinkController& link = parts.link();
    BootloaderSession& session = parts.firmware();
    PtyPair device;
    std::filesystem::path dir;

    Rig() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fwses-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        link.state.portName = device.slavePath;
        parts.enterBootloader(); // the firmware page opens the port
        EXPECT_TRUE(port.Enabled());
    }
    ~Rig() {
        port.Close();
        std::filesystem::remove_all(dir);
    }

    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            parts.tick20ms();
        }
    }
    // The bootloader sends; the line goes quiet until the analysis tick.
    void reply(const std::string& bytes) {
        ASSERT_TRUE(device.writeMaster(bytes));
        ASSERT_TRUE(dispatcher.runUntil(
            [&] { return link.state.rxCount >= static_cast<std::uint32_t>(bytes.size()); }, 2000));
        ticks(link.state.quietTicks - 1);
        ASSERT_EQ(link.state.rxCount, 0u) << "the analysis tick has not come";
    }
    // One chunk straight into Bootloader_analyse.
    void chunk(const std::string& bytes) {
        session.analyse(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::string sent(std::size_t n) { return device.readMaster(n, 2000); }
    std::string nothingMore() { return device.drainMaster(100, 30); }

    std::string imageFile(std::size_t bodySize, char version = 9,
                          const std::string& name = "a.bin") {
        std::string bytes = std::string("VXRT") + version;
        for (std::size_t i = 0; i < bodySize; ++i) {
            bytes.push_back(bodyByte(i));
        }
        const auto path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    void identify() {
        reply(">");
        EXPECT_EQ(sent(1), "<");
        reply("RT\x05");
        ASSERT_TRUE(view.phase.bootloaderReady);
    }
};

TEST(BootloaderSession, ProgramsTheLargestImageBlockByBlockAndReturnsToTheFirmware) {
    Rig r;
    EXPECT_EQ(r.view.panels[2], "Порт " + r.device.slavePath + " открыт");
    r.identify();
    EXPECT_EQ(r.view.panels[2], "Coeдинение установлено: Загрузчик v.5");

    const std::string path = r.imageFile(15360, 9);
    r.session.openImage(path);
    EXPECT_EQ(r.page.path, path);
    EXPECT_EQ(r.page.version, "Версия: 9");
    ASSERT_TRUE(r.view.phase.imageReady);

    r.session.startProgramming();
    EXPECT_FALSE(r.view.phase.imageReady);
    EXPECT_FALSE(r.view.phase.bootloaderReady) << "the image must not change now";
    EXPECT_TRUE(logged(r.view.log, "Идет программирование. Ждите..."));
    for (std::size_t n = 0; n < 120; ++n) {
        ASSERT_EQ(r.sent(131), expectedFrame(n, 15360)) << "block " << n;
        EXPECT_EQ(r.link.state.bootTimer > 0, true);
        if (n == 59) {
            EXPECT_EQ(r.view.progress, 499);
        }
        r.reply("!");
    }
    EXPECT_EQ(r.sent(2), "\xFF\xFF");
    EXPECT_EQ(r.nothingMore(), "");

    // Back to the firmware: the port timer greets the device again.
    EXPECT_FALSE(r.link.state.bootloaderMode);
    EXPECT_FALSE(r.link.state.linkUp);
    EXPECT_EQ(r.link.state.bootTimer, 0u);
    EXPECT_TRUE(r.link.portTimerEnabled());
    EXPECT_FALSE(r.view.phase.bootloaderReady);
    EXPECT_FALSE(r.view.phase.imageReady);
    EXPECT_EQ(r.page.firstPageShown, 1);
    EXPECT_EQ(r.page.path, "");
    EXPECT_EQ(r.page.version, "Версия:");
    EXPECT_EQ(r.view.log.back(), "Программирование завершено");
    EXPECT_EQ(r.view.messages, std::vector<std::string>{"Программирование завершено"});
    EXPECT_FALSE(r.session.holdsImage());
}

TEST(BootloaderSession, ScansOfAChunk) {
    Rig r;
    // An "R" that ends a chunk is no greeting, whatever comes next.
    r.reply("xxR");
    r.reply("T\x05");
    EXPECT_FALSE(r.view.phase.bootloaderReady);
    EXPECT_EQ(r.view.panels[2], "Порт " + r.device.slavePath + " открыт");
    // A chunk that ends with "RT" gives version 0; ">" is answered once a chunk.
    r.reply(">>RT");
    EXPECT_EQ(r.view.panels[2], "Coeдинение установлено: Загрузчик v.0");
    EXPECT_TRUE(r.view.phase.bootloaderReady);
    EXPECT_EQ(r.sent(1), "<");
    // Outside programming "!" and "@" have nothing to send.
    r.reply("!@");
    EXPECT_EQ(r.nothingMore(), "");

    // A 5-byte image has no blocks: only the end marker goes out.
    r.session.openImage(r.imageFile(0));
    r.session.startProgramming();
    EXPECT_EQ(r.sent(2), "\xFF\xFF");
    EXPECT_EQ(r.view.log.back(), "Программирование завершено");

    // A 200-byte body in two blocks; a chunk with both "!" and "@" sends the
    // next block, then the same block again, and counts one rejection.
    r.parts.enterBootloader();
    r.identify();
    r.session.openImage(r.imageFile(200));
    r.session.startProgramming();
    EXPECT_EQ(r.sent(131), expectedFrame(0, 200));
    r.reply("@!");
    EXPECT_EQ(r.sent(262), expectedFrame(1, 200) + expectedFrame(1, 200));
    EXPECT_EQ(r.session.errorCount(), 1);
    r.reply("!");
    EXPECT_EQ(r.sent(2), "\xFF\xFF");
}

TEST(BootloaderSession, HundredRejectionsThenTheWatchdogResetsThePage) {
    Rig r;
    r.identify();
    r.session.openImage(r.imageFile(300));
    r.session.startProgramming();
    const std::string first = r.sent(131);
    for (int i = 1; i < 100; ++i) {
        r.reply("@");
        ASSERT_EQ(r.sent(131), first) << "rejection " << i;
    }
    r.reply("@");
    EXPECT_EQ(r.view.log.back(), "Ошибка программирования");
    r.reply("!"); // too late: the run has given up
    EXPECT_EQ(r.nothingMore(), "");
    r.ticks(100);
    EXPECT_EQ(r.view.messages, std::vector<std::string>{kLost});
    EXPECT_FALSE(r.session.programming());
    EXPECT_FALSE(r.session.holdsImage());

    // A silent bootloader: the watchdog fires on exactly the 100th tick
    // after the frame, and the page waits for the bootloader again.
    r.identify();
    r.session.openImage(r.imageFile(300));
    r.session.startProgramming();
    EXPECT_EQ(r.sent(131), expectedFrame(0, 300));
    r.ticks(99);
    EXPECT_EQ(r.view.messages.size(), 1u);
    r.ticks(1);
    EXPECT_EQ(r.view.messages.size(), 2u);
    EXPECT_EQ(r.view.log.back(), kLost);
    EXPECT_TRUE(r.link.state.bootloaderMode);
    EXPECT_EQ(r.view.panels[2], "Ожидается соединение с загрузчиком...");
    EXPECT_FALSE(r.view.phase.imageReady);
    EXPECT_FALSE(r.view.phase.bootloaderReady);
    EXPECT_FALSE(r.session.holdsImage());
    r.chunk("!");
    EXPECT_EQ(r.nothingMore(), "");
}

TEST(BootloaderSession, TheHeldImageIsOnlyEverReplacedByAValidOne) {
    Rig r;
    r.identify();
    const std::string path = r.imageFile(130, 1);
    r.session.openImage(path);
    // Refused files leave the held image, its page and "Обновить" as they were.
    r.session.openImage((r.dir / "missing.bin").string());
    EXPECT_EQ(r.view.log.back(), "Не удается открыть файл");
    std::ofstream(r.dir / "bad.bin", std::ios::binary) << "MZ\x90\x00\x03";
    r.session.openImage((r.dir / "bad.bin").string());
    EXPECT_EQ(r.view.messages, std::vector<std::string>{"Некорректный файл прошивки"});
    EXPECT_EQ(r.page.path, path);
    EXPECT_EQ(r.page.version, "Версия: 1");
    EXPECT_TRUE(r.view.phase.imageReady);

    // What was checked is what is programmed, even when the file changes.
    std::ofstream(path, std::ios::binary) << "VXRT\x02" << std::string(5000, 'z');
    r.session.startProgramming();
    EXPECT_EQ(r.sent(131), expectedFrame(0, 130));
    r.session.openImage(path); // the window has disabled "Открыть"; the core refuses too
    r.reply("!");
    EXPECT_EQ(r.sent(131), expectedFrame(1, 130));
}

TEST(BootloaderSession, LeavingThePageLosingThePortOrUsingTheInternetEndsOrRefusesIt) {
    Rig r; // in a serial link mode ("Работать автономно" enabled)
    r.identify();
    r.session.openImage(r.imageFile(1000));
    r.session.startProgramming();
    r.sent(131);
    r.parts.leaveBootloader();
    const std::string left = "Программирование прервано: выбрана другая страница";
    EXPECT_EQ(r.view.messages, std::vector<std::string>{left});
    EXPECT_EQ(r.view.log.back(), left);
    EXPECT_EQ(r.link.state.bootTimer, 0u);
    r.chunk("!@");
    EXPECT_EQ(r.nothingMore(), "") << "nothing is sent once the exchange is over";

    r.parts.enterBootloader();
    r.identify();
    r.session.openImage(r.imageFile(1000));
    r.session.startProgramming();
    r.sent(131);
    r.device.closeMaster(); // the adapter is unplugged
    ASSERT_TRUE(r.dispatcher.runUntil([&] { return !r.port.Enabled(); }, 3000));
    EXPECT_EQ(r.view.messages.back(),
              "Программирование прервано: порт " + r.link.state.portName + " отключен");
    EXPECT_FALSE(r.session.holdsImage());
    EXPECT_EQ(r.link.state.bootTimer, 0u);
}

TEST(BootloaderSession, ProgrammingIsRefusedWhileTheInternetLinkIsInUse) {
    Rig r;
    r.identify();
    std::vector<std::string> socketSends;
    bool listening = true;
    bool deviceLinked = false;
    r.parts.attachInternet({[&](const std::uint8_t* b, std::size_t n) {
                                socketSends.emplace_back(reinterpret_cast<const char*>(b), n);
                                return static_cast<int>(n);
                            },
                            {},
                            [&] { return listening; },
                            [&] { return deviceLinked; }});
    r.session.openImage(r.imageFile(300));
    for (const bool linked : {false, true}) {
        listening = !linked;
        deviceLinked = linked;
        r.session.startProgramming();
        EXPECT_EQ(r.view.log.back(), "Обновление ПО через Интернет невозможно: подключите "
                                     "устройство к последовательному порту");
        EXPECT_FALSE(r.session.programming());
    }
    EXPECT_TRUE(socketSends.empty());
    EXPECT_EQ(r.nothingMore(), "");

    // The flags an Internet session leaves behind do not outlast the server.
    deviceLinked = false;
    r.link.state.remoteConnected = true;
    r.link.state.directDevice = false;
    r.session.startProgramming();
    EXPECT_TRUE(r.session.programming());
    EXPECT_EQ(r.sent(131).size(), 131u) << "block 0 goes to the serial port";
    EXPECT_TRUE(socketSends.empty());
}

} // namespace
