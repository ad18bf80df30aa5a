// The command operations through the link controller, with the real serial
// port component on a pseudo-terminal (the master reads what was sent) and a
// loopback TCP connection for the Internet link.
#include "tests/session/protocol_harness.h"

#include <gtest/gtest.h>

namespace {

using namespace protocol_test;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

const std::string kNoLink = "Установите соединение";

frames::ConfigBlockBytes sampleBlock() {
    frames::ConfigBlockBytes block{};
    block[0] = 0xD2; // password 1234
    block[1] = 0x04;
    block[2] = 0x00; // zero bytes travel too
    for (std::size_t i = 3; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i);
    }
    return block;
}

std::string blockBytes(const frames::ConfigBlockBytes& block) {
    return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

TEST(DeviceCommands, WithoutALinkOnlyAskForOne) {
    Harness h;
    h.link.tick1s(); // the port is open, the device has not greeted
    ASSERT_TRUE(h.link.state.portReady);
    ASSERT_EQ(h.sent(), "");
    const struct {
        const char* name;
        std::function<void()> run;
        int quietTicks; // -1: not touched
    } operations[] = {
        {"N6Click", [&] { h.commands.readConfig("1234"); }, 15},
        {"N7Click", [&] { h.commands.writeConfig("1234", sampleBlock()); }, 5},
        {"ChPassClick", [&] { h.commands.changePassword("1234", "5678"); }, -1},
        {"Send_APNClick", [&] { h.commands.sendApn("1234", "internet.tele2.ru"); }, -1},
    };
    for (const auto& op : operations) {
        SCOPED_TRACE(op.name);
        h.view.log.clear();
        h.link.state.quietTicks = 9;
        op.run();
        EXPECT_EQ(h.view.log, std::vector<std::string>{kNoLink});
        EXPECT_EQ(h.sentNothing(), "");
        EXPECT_EQ(h.link.state.replyTimer, 0u);
        EXPECT_FALSE(h.protocol.configReadPending);
        EXPECT_EQ(h.link.state.quietTicks, op.quietTicks < 0 ? 9 : op.quietTicks);
    }
}

TEST(DeviceCommands, ConfigReadOnTheSerialLink) {
    Harness h;
    h.linkSerial();
    h.link.state.quietTicks = 5;
    h.commands.readConfig("1234");
    EXPECT_EQ(h.sent(), "CONFR\xD2\x04");
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Идет чтение конфигурации. Ждите..."});
    EXPECT_EQ(h.link.state.quietTicks, 15);
    EXPECT_EQ(h.link.state.replyTimer, 1u);
    EXPECT_TRUE(h.protocol.configReadPending);
    EXPECT_TRUE(h.link.tickNeeded());

    // A value below 256 sends its zero high byte; leading zeros do not count.
    h.commands.readConfig("0200");
    EXPECT_EQ(h.sent(), "CONFR\xC8\0"s);
}

TEST(DeviceCommands, ConfigWriteOnTheSerialLink) {
    Harness h;
    h.linkSerial();
    h.commands.writeConfig("1234", sampleBlock());
    EXPECT_EQ(h.sent(), "CONFW" + blockBytes(sampleBlock()));
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Идет запись конфигурации. Ждите..."});
    EXPECT_EQ(h.link.state.quietTicks, 5);
    EXPECT_EQ(h.link.state.replyTimer, 1u);
    EXPECT_FALSE(h.protocol.configReadPending);
}

TEST(DeviceCommands, ConfigWriteBuildsTheBlockOnlyWhenItWillBeSent) {
    Harness h;
    int builds = 0;
    const auto Write_conf = [&]() -> std::optional<frames::ConfigBlockBytes> {
        ++builds;
        h.view.log.push_back("Write_conf");
        return sampleBlock();
    };
    h.commands.writeConfig("1234", Write_conf); // no link yet
    EXPECT_EQ(builds, 0);
    h.commands.writeConfig("12x", Write_conf); // no link and a bad password: the link comes first
    EXPECT_EQ(h.view.log, (Lines{kNoLink, kNoLink}));

    h.linkSerial(); // clears the log
    h.commands.writeConfig("1234", Write_conf);
    EXPECT_EQ(h.view.log, (Lines{"Идет запись конфигурации. Ждите...", "Write_conf"}));
    EXPECT_EQ(h.sent(), "CONFW" + blockBytes(sampleBlock()));
    EXPECT_EQ(h.link.state.replyTimer, 1u);

    // A control that does not convert stops the write: nothing sent, no watchdog.
    h.link.state.replyTimer = 0;
    h.commands.writeConfig("1234", []() -> std::optional<frames::ConfigBlockBytes> { return {}; });
    EXPECT_EQ(h.sentNothing(), "");
    EXPECT_EQ(h.link.state.replyTimer, 0u);
}

TEST(DeviceCommands, APasswordThatIsNotANumberStopsTheConfigurationTransfer) {
    Harness h;
    h.linkSerial();
    const struct {
        const char* name;
        std::function<void()> run;
        std::string waiting;
        std::string refusal;
    } operations[] = {
        {"read", [&] { h.commands.readConfig("12a"); }, "Идет чтение конфигурации. Ждите...",
         "Чтение конфигурации не начато: неверный пароль \"12a\""},
        {"write, empty", [&] { h.commands.writeConfig("", sampleBlock()); },
         "Идет запись конфигурации. Ждите...",
         "Запись конфигурации не начата: неверный пароль \"\""},
        {"read, too big", [&] { h.commands.readConfig("70000"); },
         "Идет чтение конфигурации. Ждите...",
         "Чтение конфигурации не начато: неверный пароль \"70000\""},
    };
    for (const auto& op : operations) {
        SCOPED_TRACE(op.name);
        h.view.log.clear();
        h.view.messages.clear();
        op.run();
        ASSERT_EQ(h.view.log.size(), 2u);
        EXPECT_EQ(h.view.log[0], op.waiting);
        EXPECT_EQ(h.view.log[1].rfind(op.refusal, 0), 0u) << h.view.log[1];
        EXPECT_EQ(h.view.messages, std::vector<std::string>{h.view.log[1]});
        EXPECT_EQ(h.sentNothing(), "");
        EXPECT_EQ(h.link.state.replyTimer, 0u);
        EXPECT_FALSE(h.protocol.configReadPending);
    }
}

TEST(DeviceCommands, PasswordAndAccessPointOnTheSerialLink) {
    Harness h;
    h.linkSerial();
    h.commands.changePassword("1234", "5678");
    EXPECT_EQ(h.sent(), "CHPASS 1234 5678\r");
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Идет смена пароля. Ждите..."});
    EXPECT_EQ(h.link.state.replyTimer, 1u);

    h.link.state.replyTimer = 0;
    h.view.log.clear();
    h.commands.sendApn("1234", "internet.beeline.ru\",\"beeline\",\"beeline");
    EXPECT_EQ(h.sent(), "APN 1234 \"internet.beeline.ru\",\"beeline\",\"beeline\"#\r");
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Идет смена APN. Ждите..."});
    EXPECT_EQ(h.link.state.replyTimer, 1u);

    // Cyrillic in a text command goes out as code page 1251.
    h.commands.changePassword("1234", "Жд");
    EXPECT_EQ(h.sent(), "CHPASS 1234 \xC6\xE4\r");
}

TEST(DeviceCommands, TextsTheDeviceCannotTakeAreRefused) {
    Harness h;
    h.linkSerial();
    const struct {
        const char* name;
        std::function<void()> run;
        std::string inMessage;
    } cases[] = {
        {"not in code page 1251", [&] { h.commands.changePassword("1234", "Ω1"); }, "Ω"},
        {"too long", [&] { h.commands.sendApn("1234", std::string(120, 'a')); }, "99"},
        {"line break", [&] { h.commands.changePassword("12\n", "1"); }, "управляющий"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        h.view.log.clear();
        c.run();
        ASSERT_EQ(h.view.log.size(), 1u);
        EXPECT_EQ(h.view.log[0].rfind("Команда не отправлена", 0), 0u) << h.view.log[0];
        EXPECT_NE(h.view.log[0].find(c.inMessage), std::string::npos) << h.view.log[0];
        EXPECT_EQ(h.sentNothing(), "");
        EXPECT_EQ(h.link.state.replyTimer, 0u);
    }
}

TEST(DeviceCommands, ResetNeedsNoLinkAndStartsNoWatchdog) {
    Harness h;
    h.link.tick1s();
    h.commands.restartDevice();
    EXPECT_EQ(h.sent(), "!RST");
    EXPECT_TRUE(h.view.log.empty());
    EXPECT_EQ(h.link.state.replyTimer, 0u);
}

TEST(DeviceCommands, DiagnosticModeEchoesTextCommandsOnly) {
    Harness h;
    h.linkSerial();
    h.link.setDiagnostics(true);
    h.commands.changePassword("1234", "5678");
    EXPECT_EQ(h.sent(), "CHPASS 1234 5678\r");
    EXPECT_EQ(h.view.log.front(), "CHPASS 1234 5678");
    h.view.log.clear();
    h.commands.readConfig("1234"); // binary: not a text to show
    EXPECT_EQ(h.sent(), "CONFR\xD2\x04");
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Идет чтение конфигурации. Ждите..."});
}

TEST(DeviceCommands, InternetFormsGoToTheClient) {
    Harness h;
    h.link.tick1s(); // a serial port is open too: nothing may go there
    LoopbackConnection tcp;
    h.linkInternet(tcp);

    h.commands.readConfig("1234");
    EXPECT_EQ(tcp.received(), "CONFR\xD2\x04");
    EXPECT_TRUE(h.protocol.configReadPending);
    EXPECT_EQ(h.link.state.replyTimer, 1u);

    h.commands.writeConfig("1234", sampleBlock());
    EXPECT_EQ(tcp.received(), "CONFW" + blockBytes(sampleBlock()));
    EXPECT_EQ(h.link.state.quietTicks, 5);

    h.commands.changePassword("1234", "5678");
    EXPECT_EQ(tcp.received(), "CHPASS 1234 5678\x1A\r");
    EXPECT_EQ(h.view.log, (std::vector<std::string>{"Идет чтение конфигурации. Ждите...",
                                                    "Идет запись конфигурации. Ждите...",
                                                    "Идет смена пароля. Ждите..."}));

    // The access point has no Internet form: refused, nothing sent anywhere.
    h.link.state.replyTimer = 0;
    h.view.log.clear();
    h.commands.sendApn("1234", "internet.tele2.ru");
    ASSERT_EQ(h.view.log.size(), 1u);
    EXPECT_NE(h.view.log[0].find("APN не изменен"), std::string::npos) << h.view.log[0];
    EXPECT_EQ(tcp.received(100), "");
    EXPECT_EQ(h.link.state.replyTimer, 0u);
    EXPECT_EQ(h.sentNothing(), "");
}

TEST(DeviceCommands, InternetCommandsWithoutAClientStartNothing) {
    Harness h;
    LoopbackConnection tcp;
    h.linkInternet(tcp);
    tcp.closeServerSide(); // the device went away; remoteConnected stays set
    ASSERT_TRUE(h.link.state.remoteConnected);

    h.commands.readConfig("1234");
    EXPECT_FALSE(h.protocol.configReadPending);
    EXPECT_EQ(h.link.state.replyTimer, 0u);
    h.commands.writeConfig("1234", sampleBlock());
    h.commands.changePassword("1234", "5678");
    EXPECT_EQ(h.link.state.replyTimer, 0u);
    // Only the waiting lines of the configuration transfers, written before sending.
    EXPECT_EQ(h.view.log, (std::vector<std::string>{"Идет чтение конфигурации. Ждите...",
                                                    "Идет запись конфигурации. Ждите..."}));
    EXPECT_EQ(tcp.received(100), "");

    // Without any Internet send path at all the operation says so itself.
    h.link.attachInternet(nullptr);
    h.view.log.clear();
    h.commands.changePassword("1234", "5678");
    ASSERT_EQ(h.view.log.size(), 1u);
    EXPECT_EQ(h.view.log[0].rfind("Команда не отправлена", 0), 0u);
}

} // namespace
