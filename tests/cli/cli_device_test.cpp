// vxrt7-cli's device commands run as a child against the simulator on
// pseudo-terminals: read gives the window's file, write leaves the device
// holding the file and keeps the old content, diff --port, a batch with a
// device that never answers, flash, and the bad inputs. --json is parsed.
#include "tests/cli/cli_run.h"
#include "tests/support/device_holder.h"
#include "tests/support/full_number_list.h"
#include "tests/support/window_run.h"

#include "cli/cli_common.h"
#include "cli/device_job.h"
#include "cli/event_loop.h"

#include "config/config_block.h"
#include "files/config_file.h"

#include <QJsonArray>
#include <QToolButton>
#include <cstdlib>
#include <map>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string hexOf(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

ConfigBlock blockA() {
    ConfigBlock a;
    a.password = 1234;
    a.options = 0x05;
    a.relayMode = 2;
    a.pulseMs = 3000;
    a.pauseMs = 100;
    a.repetitions = 2;
    a.deviceNumber = 9;
    return a;
}

// A simulator whose dump is read when it stops: its block and its numbers in
// cell order.
struct Device {
    std::string dump;
    std::unique_ptr<SimProcess> sim;

    Device(const std::string& dir, const std::string& name, std::vector<std::string> extra) {
        dump = dir + "/" + name + ".dump";
        std::vector<std::string> args = {"--dump", dump};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
        EXPECT_TRUE(sim->ok()) << sim->error();
    }
    std::string port() const { return sim->slavePath(); }
    std::map<std::string, std::string> stopAndDump(Entries* entries = nullptr) {
        sim->stop();
        std::map<std::string, std::string> keys;
        std::map<int, std::pair<std::string, std::string>> cells;
        std::istringstream in(slurp(dump));
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            const auto a = line.find(';');
            if (eq != std::string::npos) {
                keys[line.substr(0, eq)] = line.substr(eq + 1);
            } else if (a != std::string::npos) {
                const auto b = line.find(';', a + 1);
                cells[std::stoi(line.substr(0, a))] = {line.substr(a + 1, b - a - 1),
                                                       line.substr(b + 1)};
            }
        }
        for (auto& c : keys["block"]) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (entries != nullptr) {
            for (const auto& [cell, entry] : cells) {
                entries->push_back(entry);
            }
        }
        return keys;
    }
};

class CliDevice : public ::testing::Test {
  protected:
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString();
    std::string backups = dir + "/data/vxrt7-config/backups";

    QByteArray dataHome = qgetenv("XDG_DATA_HOME");

    void SetUp() override { qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir + "/data")); }
    void TearDown() override { qputenv("XDG_DATA_HOME", dataHome); }

    std::string path(const std::string& name) const { return dir + "/" + name; }
    CliResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "--json");
        return runCli(args, dir);
    }
    // A file for the simulator's --config and --numbers.
    std::string deviceFiles(const ConfigBlock& block, const std::string& numbers) {
        const auto bytes = block.encode();
        spit(path("block"), std::string(bytes.begin(), bytes.end()));
        spit(path("numbers"), numbers);
        return path("block");
    }
};

// One device job of the tool in this process, run by its event loop until
// `stop` (looked at every 100 ms at least, for 30 s at most).
struct InProcessJob {
    EventLoop loop;
    cli::JobRequest request;
    std::unique_ptr<cli::DeviceJob> job;

    InProcessJob(cli::JobRequest::Kind kind, const std::string& port, bool fast,
                 const config_file::Decoded* file = nullptr) {
        request.kind = kind;
        request.port = port;
        request.fast = fast;
        request.file = file;
        job = std::make_unique<cli::DeviceJob>(loop, request);
        job->start();
    }
    template <typename Stop> bool runUntil(Stop stop) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        loop.run(
            [&] { return job->finished() || stop() || std::chrono::steady_clock::now() > limit; },
            [&] { job->advance(); },
            [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(100); });
        return stop();
    }
    // The 20 ms ticks of a wait in which the device sends nothing, driven
    // here instead of waited for: the reply watchdog's 1000 and some.
    void driveSilence() {
        for (int i = 0; i < 1100 && !job->finished(); ++i) {
            job->session().tick20ms();
            job->advance();
        }
    }
    const cli::JobResult& result() const { return job->result(); }
};

std::string numbersFile(const std::string& path, int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += std::to_string(i) + ";" + std::to_string(9150000000LL + i * 31) + ";" +
                 std::to_string(i % 300) + "\n";
    }
    spit(path, lines);
    return path;
}

QJsonObject portEntry(const QJsonObject& doc, int i) {
    return doc["ports"].toArray()[i].toObject();
}

std::string str(const QJsonValue& v) {
    return v.toString().toStdString();
}

} // namespace

TEST_F(CliDevice, ReadGivesTheWindowsSaveAndABackup) {
    // The window reads the device and saves it, as a user would.
    WindowRun window;
    const auto a = blockA().encode();
    const QString blockPath = window.dir.filePath(QStringLiteral("block"));
    spit(blockPath.toStdString(), std::string(a.begin(), a.end()));
    const QString numbersPath = window.dir.filePath(QStringLiteral("numbers"));
    spit(numbersPath.toStdString(), "0;9160000001;1\n1;9160000002;2\n5;9160000006;65535\n");
    window.startLinked(
        {"--config", blockPath.toStdString(), "--numbers", numbersPath.toStdString()});
    QTest::mouseClick(window.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(hurryQuietTime(*window.form, [&] {
        return window.log().contains(QString::fromUtf8("Чтение номеров завершено"));
    }));
    const QString saved = window.dir.filePath(QStringLiteral("window.fcd"));
    answerFileDialog(saved);
    QTest::mouseClick(window.form->ui.RzToolButton2, Qt::LeftButton);
    const std::string windowBytes = readFileBytes(saved);
    ASSERT_GT(windowBytes.size(), config_file::kEmptyFileSize);
    // The window kept the complete read as a backup, and said so.
    const QStringList kept = QDir(QString::fromStdString(backups)).entryList(QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(slurp(backups + "/" + kept[0].toStdString()) == windowBytes);
    EXPECT_TRUE(window.log().contains(QString::fromUtf8("Резервная копия прибора сохранена: ") +
                                      QString::fromStdString(backups) + "/" + kept[0]));
    window.form.reset(); // the port is the tool's now

    const CliResult r = run({"read", "--port", window.link.toStdString(), "-o", "tool.fcd"});
    ASSERT_EQ(r.code, 0) << r.err;
    const QJsonObject doc = r.json();
    EXPECT_EQ(doc["exitCode"].toInt(), 0);
    const QJsonObject entry = portEntry(doc, 0);
    EXPECT_EQ(entry["device"].toString(), QString::fromUtf8("\"Велиран\""));
    EXPECT_EQ(entry["firmwareVersion"].toInt(), 30);
    EXPECT_EQ(entry["numbers"].toInt(), 3);
    EXPECT_TRUE(slurp(path("tool.fcd")) == windowBytes)
        << "the window's file and the tool's differ";
    // One backup per read, named by the device number, holding the same.
    const std::string backup = str(entry["backup"]);
    EXPECT_EQ(backup.rfind(backups + "/device-9_", 0), 0u) << backup;
    EXPECT_TRUE(slurp(backup) == windowBytes);
    EXPECT_EQ(QDir(QString::fromStdString(backups)).entryList(QDir::Files).size(), 2);
}

TEST_F(CliDevice, WriteLeavesTheFileOnTheDeviceKeepsTheOldAndDiffSeesIt) {
    deviceFiles(blockA(), "0;9160000001;1\n1;9160000002;2\n2;9160000003;0\n");
    Device device(dir, "dev", {"--config", path("block"), "--numbers", path("numbers")});
    const std::string oldFile = [&] {
        const CliResult r = run({"read", "--port", device.port(), "-o", "old.fcd"});
        EXPECT_EQ(r.code, 0) << r.err;
        return slurp(path("old.fcd"));
    }();

    // B: other settings and a long list with gaps and empty apartments; its
    // password is not the device's, which a write never changes.
    ConfigBlock b = blockA();
    b.password = 4321;
    b.relayMode = 3;
    b.deviceNumber = 12;
    b.relayTimeout = 45;
    MemoryNumberGrid grid;
    Entries expected;
    for (int row = 1; row <= 300; ++row) {
        if (row % 29 == 0) {
            continue;
        }
        const std::string number = std::to_string(9100000000LL + row * 7919);
        const std::string apartment = row % 7 == 0 ? "" : std::to_string(row);
        grid.setCell(1, row, number);
        grid.setCell(2, row, apartment);
        expected.emplace_back(number, apartment.empty() ? "0" : apartment);
    }
    spit(path("b.fcd"), config_file::encode(b.encode(), grid).bytes);

    CliResult r = run({"write", "--fast", "--port", device.port(), "b.fcd"});
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    QJsonObject entry = portEntry(r.json(), 0);
    EXPECT_TRUE(entry["ok"].toBool());
    EXPECT_EQ(r.err.find("Номера ["), std::string::npos) << "no progress bar into a file";
    // The backup holds what the device held before the write.
    EXPECT_TRUE(slurp(str(entry["backup"])) == oldFile);

    // diff --port: equal to B, and a changed file differs by its setting and number.
    r = run({"diff", "--port", device.port(), "b.fcd"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(portEntry(r.json(), 0)["diff"].toObject()["equal"].toBool());
    ConfigBlock changed = b;
    changed.relayTimeout = 46;
    grid.setCell(1, 3, "9999999999");
    spit(path("changed.fcd"), config_file::encode(changed.encode(), grid).bytes);
    r = run({"diff", "--port", device.port(), "changed.fcd"});
    EXPECT_EQ(r.code, 1) << r.out;
    const QJsonObject diff = portEntry(r.json(), 0)["diff"].toObject();
    EXPECT_EQ(diff["settings"].toArray().size(), 1);
    EXPECT_EQ(diff["added"].toArray().size(), 1);

    Entries stored;
    const auto dump = device.stopAndDump(&stored);
    b.password = 1234; // the device kept its own
    const auto bBytes = b.encode();
    EXPECT_EQ(dump.at("block"), hexOf(std::string(bBytes.begin(), bBytes.end())));
    EXPECT_EQ(stored, expected);
}

// The everyday edit: one resident out in the middle of the list and one in
// at the end. By default the tool sends only the cells that differ from the
// list it reads after the configuration (the later cells shift); --full
// sends every cell. Both leave the device holding the file, and both say
// how many cells went.
TEST_F(CliDevice, WriteSendsOnlyTheChangedCellsAndFullSendsEveryCell) {
    const std::string trace = path("trace");
    MemoryNumberGrid grid;
    std::string held;
    for (int row = 1; row <= 40; ++row) {
        const std::string number = std::to_string(9180000000LL + row);
        grid.setCell(1, row, number);
        grid.setCell(2, row, std::to_string(row));
        held += std::to_string(row - 1) + ";" + number + ";" + std::to_string(row) + "\n";
    }
    deviceFiles(blockA(), held);
    Device device(dir, "dev",
                  {"--config", path("block"), "--numbers", path("numbers"), "--trace", trace});
    grid.setCell(1, 37, "");
    grid.setCell(2, 37, "");
    grid.setCell(1, 45, "9189999999");
    spit(path("edit.fcd"), config_file::encode(blockA().encode(), grid).bytes);

    CliResult r = run({"write", "--fast", "--port", device.port(), "edit.fcd"});
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    QJsonObject entry = portEntry(r.json(), 0);
    EXPECT_EQ(str(entry["message"]), "Записано и проверено: конфигурация и номеров 40 (изменено "
                                     "ячеек: 4)");
    EXPECT_EQ(entry["cellsWritten"].toInt(), 4);
    std::string sent = slurp(trace);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (sent = slurp(trace)).find("RT+EFA=") != std::string::npos; }, 5000));
    // Each after the device's answer to the one before; the read back follows.
    const std::size_t from = sent.find("RT+");
    EXPECT_EQ(sent.substr(from, sent.find("RT+EFA=40\r") + 10 - from),
              "RT+NTF=36,9180000038,38\rRT+NTF=37,9180000039,39\r"
              "RT+NTF=38,9180000040,40\rRT+NTF=39,9189999999,\r"
              "RT+EFA=40\r");
    // Nothing left to change: only the end of the list goes.
    spit(trace, "");
    r = run({"write", "--fast", "--port", device.port(), "edit.fcd"});
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    EXPECT_EQ(portEntry(r.json(), 0)["cellsWritten"].toInt(), 0);
    EXPECT_EQ(slurp(trace).find("RT+NTF="), std::string::npos);

    // The design's whole write, in text: the table's line says the cells too.
    spit(trace, "");
    r = runCli({"write", "--fast", "--full", "--port", device.port(), "edit.fcd"}, dir);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    EXPECT_NE(r.out.find(device.port() + " | успешно | Записано и проверено: конфигурация и "
                                         "номеров 40 (записано ячеек: 40)"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(countOf(slurp(trace), "RT+NTF="), 40);
    r = runCli({"read", "--full", "--port", device.port(), "-o", "x.fcd"}, dir);
    EXPECT_EQ(r.code, 2) << "--full is for write only";

    Entries stored;
    device.stopAndDump(&stored);
    ASSERT_EQ(stored.size(), 40u);
    EXPECT_EQ(stored[35], (std::pair<std::string, std::string>{"9180000036", "36"}));
    EXPECT_EQ(stored[36], (std::pair<std::string, std::string>{"9180000038", "38"}));
    EXPECT_EQ(stored[39], (std::pair<std::string, std::string>{"9189999999", "0"}));
}

// A number the owner deleted by SMS leaves a free cell in the middle, which
// the device's read does not show: the list read looks like the file, so the
// write of the changes sends no number and "RT+EFA=2" frees the cell that
// holds the second. The read back finds it, and the tool writes the whole
// list instead, which leaves the device holding the file.
TEST_F(CliDevice, AFreeCellInTheMiddleIsFoundByTheReadBackAndTheWholeListGoes) {
    deviceFiles(blockA(), "0;9160000001;1\n2;9160000003;3\n");
    Device device(dir, "dev", {"--config", path("block"), "--numbers", path("numbers")});
    MemoryNumberGrid grid;
    grid.setCell(1, 1, "9160000001");
    grid.setCell(2, 1, "1");
    grid.setCell(1, 2, "9160000003");
    grid.setCell(2, 2, "3");
    spit(path("two.fcd"), config_file::encode(blockA().encode(), grid).bytes);
    const CliResult r = run({"write", "--fast", "--port", device.port(), "two.fcd"});
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    const QJsonObject entry = portEntry(r.json(), 0);
    EXPECT_EQ(str(entry["message"]),
              "Записано и проверено: конфигурация и номеров 2 (изменено ячеек: 0; контрольное "
              "чтение не совпало с файлом, список записан целиком: ячеек 2)");
    EXPECT_EQ(entry["cellsWritten"].toInt(), 2);
    Entries stored;
    device.stopAndDump(&stored);
    EXPECT_EQ(stored, (Entries{{"9160000001", "1"}, {"9160000003", "3"}}));
}

TEST_F(CliDevice, ACutFileIsRefusedBeforeAnythingGoesToTheDevice) {
    deviceFiles(blockA(), "0;9160000001;1\n1;9160000002;2\n");
    const std::string trace = path("received");
    Device device(dir, "dev",
                  {"--config", path("block"), "--numbers", path("numbers"), "--trace", trace});
    // Another configuration with 650 numbers, cut short at 5000 bytes.
    ConfigBlock other = blockA();
    other.deviceNumber = 77;
    const std::string whole = config_file::encode(other.encode(), fullNumberList()).bytes;
    spit(path("cut.fcd"), whole.substr(0, 5000));
    const std::string words =
        "Файл «cut.fcd» неполный: обрывается после строки 186 из 650 списка номеров.";
    for (const char* command : {"write", "diff"}) {
        SCOPED_TRACE(command);
        const CliResult text = runCli({command, "--port", device.port(), "cut.fcd"}, dir);
        EXPECT_EQ(text.code, 2);
        EXPECT_EQ(text.err, "vxrt7-cli: " + words + "\n");
        EXPECT_EQ(text.out, "");
        const CliResult json = run({command, "--port", device.port(), "cut.fcd"});
        EXPECT_EQ(json.code, 2);
        EXPECT_EQ(str(json.json()["error"]), words);
    }
    // Not a byte reached the device, not even its greeting; the trace does
    // record what comes.
    EXPECT_EQ(slurp(trace), "");
    EXPECT_FALSE(QDir(QString::fromStdString(backups)).exists());
    EXPECT_EQ(run({"info", "--port", device.port()}).code, 0);
    EXPECT_NE(slurp(trace).find("CONFO"), std::string::npos);
    Entries stored;
    const auto dump = device.stopAndDump(&stored);
    const auto aBytes = blockA().encode();
    EXPECT_EQ(dump.at("block"), hexOf(std::string(aBytes.begin(), aBytes.end())));
    EXPECT_EQ(stored, (Entries{{"9160000001", "1"}, {"9160000002", "2"}}));
}

TEST_F(CliDevice, BatchServesEveryDeviceAndNamesTheOneThatNeverAnswers) {
    Device one(dir, "one", {"--baud", "115200"});
    Device mute(dir, "mute", {"--no-reply"});
    Device two(dir, "two", {"--baud", "115200"});
    const CliResult r = run({"read", "--port", one.port(), "--port", mute.port(), "--port",
                             two.port(), "-o", "batch.fcd"});
    EXPECT_EQ(r.code, 1);
    const QJsonObject doc = r.json();
    EXPECT_EQ(doc["exitCode"].toInt(), 1);
    ASSERT_EQ(doc["ports"].toArray().size(), 3);
    for (int i : {0, 2}) {
        const QJsonObject entry = portEntry(doc, i);
        EXPECT_TRUE(entry["ok"].toBool()) << str(entry["message"]);
        EXPECT_EQ(slurp(path(str(entry["file"]))).size(), config_file::kEmptyFileSize);
    }
    const QJsonObject failed = portEntry(doc, 1);
    EXPECT_EQ(str(failed["port"]), mute.port());
    EXPECT_FALSE(failed["ok"].toBool());
    EXPECT_NE(str(failed["message"]).find("не отвечает"), std::string::npos);
    EXPECT_FALSE(failed.contains("file"));

    // The table of the text output names each port with its result.
    const CliResult text = runCli({"info", "--port", one.port(), "--port", mute.port()}, dir);
    EXPECT_EQ(text.code, 1);
    EXPECT_NE(text.out.find(one.port() + " | успешно"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(mute.port() + " | ошибка"), std::string::npos) << text.out;
}

TEST_F(CliDevice, FlashLeavesTheDeviceHoldingTheImage) {
    Device device(dir, "dev", {"--reject-frames", "2"});
    std::string body;
    for (int i = 0; i < 1000; ++i) {
        body.push_back(static_cast<char>(i * 7 + 3));
    }
    spit(path("fw.bin"), "VXRT\x09" + body);
    const CliResult r = run({"flash", "--port", device.port(), "fw.bin"});
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    EXPECT_TRUE(portEntry(r.json(), 0)["ok"].toBool());
    // Eight blocks; the last one padded as erased flash.
    const std::string programmed = body + std::string(1024 - body.size(), '\xff');
    EXPECT_EQ(device.stopAndDump().at("image"), hexOf(programmed));
}

TEST_F(CliDevice, BadInputsGetAClearMessageAndTheirExitCode) {
    deviceFiles(blockA(), "0;9160000001;1\n");
    Device device(
        dir, "dev",
        {"--config", path("block"), "--numbers", path("numbers"), "--mute-from", "RT+NTF:5"});
    // A wrong password: nothing is written.
    spit(path("a.fcd"), config_file::encode(blockA().encode(), MemoryNumberGrid()).bytes);
    CliResult r = run({"write", "--port", device.port(), "--password", "1111", "a.fcd"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(str(portEntry(r.json(), 0)["message"]), "Пароль не верный");

    // Files are refused before any device is touched.
    spit(path("fw.bin"), "VXRT\x01" + std::string(10, 'x'));
    r = run({"write", "--port", device.port(), "fw.bin"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(str(r.json()["error"]).find("не является файлом конфигурации"), std::string::npos);
    r = run({"flash", "--port", device.port(), "a.fcd"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(str(r.json()["error"]).find("Некорректный файл прошивки"), std::string::npos);
    r = run({"write", "--port", device.port(), "missing.fcd"});
    EXPECT_EQ(r.code, 2);

    // A port that is not there, and one that is no serial port.
    r = run({"info", "--port", path("gone")});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(str(portEntry(r.json(), 0)["message"]).find("не найдено"), std::string::npos);
    EXPECT_EQ(str(portEntry(r.json(), 0)["portError"]), "missing");
    r = run({"info", "--port", "/dev/null"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(str(portEntry(r.json(), 0)["portError"]), "not-serial");
    r = run({"info", "--port", dir});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(str(portEntry(r.json(), 0)["portError"]), "not-serial");
    EXPECT_EQ(str(portEntry(r.json(), 0)["message"]),
              "Порт " + dir + " не открыт: " + dir +
                  " является папкой, а не последовательным портом");

    // A device that another program has open, without a lock, is not taken.
    {
        DeviceHolder holder(device.port());
        ASSERT_TRUE(holder.ok()) << holder.error();
        r = run({"info", "--port", device.port()});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(str(portEntry(r.json(), 0)["portError"]), "busy");
        EXPECT_EQ(str(portEntry(r.json(), 0)["message"]), "Порт " + device.port() +
                                                              " занят программой sleep (pid " +
                                                              std::to_string(holder.pid()) + ")");
    }

    // The device stops answering in the middle of the write: which device,
    // which step, what it holds now and where the backup is.
    MemoryNumberGrid grid;
    for (int row = 1; row <= 20; ++row) {
        grid.setCell(1, row, std::to_string(9170000000LL + row));
    }
    spit(path("twenty.fcd"), config_file::encode(blockA().encode(), grid).bytes);
    r = run({"write", "--fast", "--port", device.port(), "twenty.fcd"});
    EXPECT_EQ(r.code, 1);
    const QJsonObject entry = portEntry(r.json(), 0);
    const std::string message = str(entry["message"]);
    EXPECT_NE(message.find(device.port()), std::string::npos) << message;
    EXPECT_NE(message.find("шаг «запись»"), std::string::npos) << message;
    // The device held one number, so every cell of the file differs.
    EXPECT_NE(message.find("в приборе записано 4 из 20 измененных ячеек (подтверждены ячейки 0-3), "
                           "ячейка 4 отправлена без подтверждения"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(str(entry["backup"])), std::string::npos) << message;
    EXPECT_EQ(slurp(str(entry["backup"])).size(), config_file::kEmptyFileSize + 11);
}

// A device that sends 3 of its 31 packets and falls silent: the job's read
// ends after the reply watchdog's 20 s (ticks driven here) as a failure of
// the step «чтение» that says how many numbers came, and no backup is kept
// of the incomplete read. Both exchange timings.
TEST_F(CliDevice, ADeviceFallingSilentMidListFailsTheReadWithTheNumbersRead) {
    for (const bool fast : {false, true}) {
        Device device(dir, fast ? "fast" : "quiet",
                      {"--numbers", numbersFile(path("numbers"), 650), "--read-stops-after", "3"});
        InProcessJob run(cli::JobRequest::Kind::Read, device.port(), fast);
        ASSERT_TRUE(run.runUntil([&] { return run.job->session().protocol().nextNumberRow > 63; }))
            << run.result().message;
        EXPECT_FALSE(run.job->finished()) << run.result().message;
        run.driveSilence();
        ASSERT_TRUE(run.job->finished()) << "the read waits for ever";
        EXPECT_EQ(run.result().code, cli::kDiffers);
        const std::string& message = run.result().message;
        EXPECT_NE(message.find("шаг «чтение»: Потеряна связь (нет ответа)!"), std::string::npos)
            << message;
        EXPECT_NE(message.find("чтение номеров прервано: считано 63 номеров"), std::string::npos)
            << message;
        EXPECT_TRUE(run.result().backup.empty());
        EXPECT_TRUE(QDir(QString::fromStdString(backups)).entryList(QDir::Files).isEmpty());
    }
}

// A list row whose "RT+NTF" command cannot fit the send buffer (the file
// format takes any text) is refused before anything is sent: the tool names
// the row and touches no device, and a job given such a file anyway stops
// before "CONFW". A step that nothing supervises (the device never answers
// "RT+EFA") gets the reply watchdog instead of waiting for ever.
TEST_F(CliDevice, AWriteTheDeviceCannotTakeIsRefusedBeforeAnythingIsSentAndNoStepWaitsForEver) {
    const std::string trace = path("trace");
    Device device(dir, "dev", {"--trace", trace, "--no-reply-at", "RT+EFA:1"});
    MemoryNumberGrid grid;
    for (int row = 1; row <= 20; ++row) {
        grid.setCell(1, row, std::to_string(9170000000LL + row));
        grid.setCell(2, row, std::to_string(row));
    }
    spit(path("good.fcd"), config_file::encode(blockA().encode(), grid).bytes);
    grid.setCell(1, 17, std::string(88, '9'));
    spit(path("bad.fcd"), config_file::encode(blockA().encode(), grid).bytes);

    const CliResult r = run({"write", "--port", device.port(), "bad.fcd"});
    EXPECT_EQ(r.code, 2) << r.out;
    const std::string error = str(r.json()["error"]);
    EXPECT_NE(error.find("Строка 17: номер длиннее 10 символов (88)"), std::string::npos) << error;
    EXPECT_NE(r.err.find("Строка 17: "), std::string::npos) << r.err;
    EXPECT_EQ(slurp(trace), "") << "the device got something";

    int code = cli::kSuccess;
    const auto bad = cli::loadConfigFile(cli::Run{}, path("bad.fcd"), &code);
    ASSERT_TRUE(bad);
    InProcessJob refused(cli::JobRequest::Kind::Write, device.port(), false, &*bad);
    refused.runUntil([] { return false; });
    ASSERT_TRUE(refused.job->finished());
    EXPECT_EQ(refused.result().code, cli::kDiffers);
    EXPECT_NE(refused.result().message.find("шаг «запись»: Строка 17: номер длиннее 10 символов"),
              std::string::npos)
        << refused.result().message;
    EXPECT_EQ(slurp(trace).find("CONFW"), std::string::npos);

    const auto good = cli::loadConfigFile(cli::Run{}, path("good.fcd"), &code);
    ASSERT_TRUE(good);
    InProcessJob unanswered(cli::JobRequest::Kind::Write, device.port(), false, &*good);
    const NumberWriteState& writer = unanswered.job->session().numberWriter().state;
    ASSERT_TRUE(unanswered.runUntil([&] {
        return writer.total == 20 && writer.writeCell == 20 && !writer.active;
    })) << unanswered.result().message;
    EXPECT_FALSE(unanswered.job->finished());
    unanswered.driveSilence();
    ASSERT_TRUE(unanswered.job->finished()) << "the job waits for ever for \"+EFA:\"";
    EXPECT_EQ(unanswered.result().code, cli::kDiffers);
    EXPECT_NE(unanswered.result().message.find("шаг «запись»: Потеряна связь (нет ответа)!"),
              std::string::npos)
        << unanswered.result().message;
    // The simulator's trace may lag behind what was sent.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return slurp(trace).find("RT+EFA=20\r") != std::string::npos; }, 5000));
}
