// vxrt7-cli fleet run as a child on a real register file: the jobs queued
// and listed, the devices, a number found, a device's history, cancelling,
// and every bad input of these.
#include "tests/cli/cli_run.h"

#include "config/config_block.h"
#include "files/config_file.h"
#include "fleet/fleet_register.h"

#include <QJsonArray>

#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>

namespace {

fleet::DeviceContents contents(unsigned number, const std::vector<std::string>& numbers) {
    ConfigBlock block;
    block.deviceNumber = static_cast<std::uint16_t>(number);
    block.password = 4321;
    fleet::DeviceContents c;
    c.block = block.encode();
    c.rows.resize(NumberGrid::kRows);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        c.rows[i] = {numbers[i], std::to_string(i + 10)};
    }
    return c;
}

std::string fcdOf(const fleet::DeviceContents& c) {
    MemoryNumberGrid grid;
    config_file::fillGrid(c, grid);
    return config_file::encode(c.block, grid).bytes;
}

QJsonObject item(const QJsonArray& array, int i) {
    return array.at(i).toObject();
}

QStringList keysOf(const QJsonObject& o) {
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

class CliFleet : public ::testing::Test {
  protected:
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString();
    std::string reg = dir + "/fleet.sqlite";
    std::string path(const std::string& name) const { return dir + "/" + name; }
    CliResult run(std::vector<std::string> args) {
        args.push_back("--register");
        args.push_back(reg);
        return runCli(args, dir);
    }
    // The devices as a server has met them: 7 and 8 read, 9 in a conflict.
    void seed() {
        std::string error;
        auto r = fleet::FleetRegister::open(reg, &error);
        ASSERT_TRUE(r) << error;
        r->deviceSeen(7, "10.0.0.7:4000", 4321, "3.0", 1'765'000'000'000);
        r->deviceSeen(8, "10.0.0.8:4000", 4321, "3.1", 1'765'000'100'000);
        r->setConflict(9, true, 1'765'000'200'000);
        r->unknownDevice("10.0.0.66:4000", 1'765'000'250'000);
        r->addSnapshot(7, contents(7, {"9161110001", "9161110002"}), 1'765'000'000'500, "serve",
                       "");
        r->addSnapshot(8, contents(8, {"9161110002"}), 1'765'000'100'500, "serve", "");
    }
};

} // namespace

TEST_F(CliFleet, JobsAreQueuedListedAndCancelledAndTheDevicesFoundAsTheRegisterHoldsThem) {
    seed();
    // A file as another program may leave it, with more than the block and
    // the rows: the job keeps only those.
    const std::string site = fcdOf(contents(12, {"9169990001"}));
    spit(path("site.fcd"), site + "Comment=" + std::string(100'000, 'x') + "\r\n");

    CliResult r = run({"--json", "fleet", "push", "site.fcd", "--device", "7", "--device", "8"});
    ASSERT_EQ(r.code, 0) << r.err;
    QJsonArray jobs = r.json()["jobs"].toArray();
    ASSERT_EQ(jobs.size(), 2);
    EXPECT_EQ(keysOf(item(jobs, 0)), sorted({"id", "device", "kind", "state", "tries", "error"}));
    EXPECT_EQ(item(jobs, 0)["device"].toInt(), 7);
    EXPECT_EQ(item(jobs, 1)["device"].toInt(), 8);
    EXPECT_EQ(item(jobs, 0)["kind"].toString(), "push");
    EXPECT_EQ(item(jobs, 0)["state"].toString(), "pending");
    const int pushId = item(jobs, 0)["id"].toInt();
    {
        std::string error;
        auto kept = fleet::FleetRegister::open(reg, &error);
        ASSERT_TRUE(kept) << error;
        EXPECT_EQ(kept->job(pushId)->request.file, site);
    }
    // The file is kept in the job: changing it afterwards changes nothing.
    spit(path("site.fcd"), "changed");

    // --all leaves out the device in conflict.
    r = run({"fleet", "add", "9161110005", "14", "--all"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("прибор 7, add 9161110005 кв. 14, pending"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("прибор 8, add"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("прибор 9"), std::string::npos) << r.out;

    // Refused, with nothing queued: an unknown device among known ones, a
    // file that is no .fcd, a number the device cannot take, no target.
    spit(path("numbers.csv"), "14;9161110005\r\n");
    struct Refused {
        std::vector<std::string> args;
        std::string message;
    };
    const Refused refused[] = {
        {{"fleet", "remove", "9161110001", "--device", "7", "--device", "99"},
         "Прибора с номером устройства 99 нет в реестре"},
        {{"fleet", "push", "numbers.csv", "--device", "7"},
         "«numbers.csv» не является файлом конфигурации"},
        {{"fleet", "push", "missing.fcd", "--device", "7"},
         "Не удается открыть файл «missing.fcd»"},
        {{"fleet", "add", "9161110006", "кв. 6", "--device", "7"}, "не является целым числом"},
        {{"fleet", "add", "9161110006", "6"}, "не указан прибор: --device N или --all"},
        {{"fleet", "add", "9161110006", "6", "--all", "--device", "7"},
         "либо --device, либо --all"},
        {{"fleet", "remove", "9161110001", "--device", "seven"}, "номер устройства «seven»"},
        {{"fleet", "remove", "9161110001", "--device", "7", "--port", "x"}, "«--port»"},
        {{"fleet", "history"}, "нужен один прибор: --device N"},
        {{"fleet", "history", "--device", "99"}, "Прибора с номером устройства 99 нет"},
        {{"fleet", "sync"}, "неизвестное действие «sync»"},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.message);
        r = run(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }

    r = run({"--json", "fleet", "jobs"});
    ASSERT_EQ(r.code, 0) << r.err;
    jobs = r.json()["jobs"].toArray();
    ASSERT_EQ(jobs.size(), 4);
    for (int i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(item(jobs, i)["state"].toString(), "pending");
    }

    // A running job is not cancelled; a waiting one is, once.
    {
        std::string error;
        auto server = fleet::FleetRegister::open(reg, &error);
        ASSERT_TRUE(server) << error;
        ASSERT_TRUE(server->jobStarted(pushId, 1'765'000'300'000));
        server->audit(7, pushId, {"Номер 9169990001 добавлен (строка 1, кв. 10)"},
                      1'765'000'300'500);
    }
    r = run({"fleet", "cancel", std::to_string(pushId)});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("выполняется сейчас"), std::string::npos) << r.err;
    const int addId = item(jobs, 2)["id"].toInt();
    r = run({"--json", "fleet", "cancel", std::to_string(addId)});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(item(r.json()["jobs"].toArray(), 0)["state"].toString(), "cancelled");
    r = run({"fleet", "cancel", std::to_string(addId)});
    EXPECT_EQ(r.code, 1);
    r = run({"fleet", "cancel", "4711"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("задания 4711 нет"), std::string::npos) << r.err;

    r = run({"--json", "fleet", "devices"});
    ASSERT_EQ(r.code, 0) << r.err;
    const QJsonArray devices = r.json()["devices"].toArray();
    ASSERT_EQ(devices.size(), 3);
    EXPECT_EQ(keysOf(item(devices, 0)), sorted({"device", "address", "lastSeen", "firmwareVersion",
                                                "numbers", "pending", "conflict"}));
    EXPECT_EQ(item(devices, 0)["device"].toInt(), 7);
    EXPECT_EQ(item(devices, 0)["address"].toString(), "10.0.0.7:4000");
    EXPECT_EQ(item(devices, 0)["lastSeen"].toString(), "2025-12-06T05:46:40Z");
    EXPECT_EQ(item(devices, 0)["firmwareVersion"].toString(), "3.0");
    EXPECT_EQ(item(devices, 0)["numbers"].toInt(), 2);
    EXPECT_EQ(item(devices, 0)["pending"].toInt(), 1); // the push, running; its add cancelled
    EXPECT_EQ(item(devices, 1)["pending"].toInt(), 2);
    EXPECT_FALSE(item(devices, 1)["conflict"].toBool());
    EXPECT_TRUE(item(devices, 2)["conflict"].toBool());
    const QJsonArray unknown = r.json()["unknown"].toArray();
    ASSERT_EQ(unknown.size(), 1);
    EXPECT_EQ(item(unknown, 0)["address"].toString(), "10.0.0.66:4000");
    EXPECT_EQ(item(unknown, 0)["attempts"].toInt(), 1);
    r = run({"fleet", "devices"});
    EXPECT_NE(r.out.find("Прибор 9: адрес неизвестен"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Не опознан (ни один пароль не подошёл): 10.0.0.66:4000"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("КОНФЛИКТ"), std::string::npos) << r.out;

    r = run({"--json", "fleet", "find", "9161110002"});
    ASSERT_EQ(r.code, 0) << r.err;
    const QJsonObject found = r.json();
    EXPECT_EQ(found["number"].toString(), "9161110002");
    const QJsonArray holders = found["devices"].toArray();
    ASSERT_EQ(holders.size(), 2);
    EXPECT_EQ(keysOf(item(holders, 0)), sorted({"device", "row", "apartment"}));
    EXPECT_EQ(item(holders, 0)["device"].toInt(), 7);
    EXPECT_EQ(item(holders, 0)["row"].toInt(), 2);
    EXPECT_EQ(item(holders, 0)["apartment"].toString(), "11");
    EXPECT_EQ(item(holders, 1)["row"].toInt(), 1);
    r = run({"fleet", "find", "9160000000"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("нет ни в одном приборе"), std::string::npos) << r.out;

    r = run({"--json", "fleet", "history", "--device", "7"});
    ASSERT_EQ(r.code, 0) << r.err;
    const QJsonObject h = r.json();
    ASSERT_EQ(h["snapshots"].toArray().size(), 1);
    EXPECT_EQ(item(h["snapshots"].toArray(), 0)["source"].toString(), "serve");
    EXPECT_EQ(h["jobs"].toArray().size(), 2);
    ASSERT_EQ(h["audit"].toArray().size(), 1);
    EXPECT_EQ(item(h["audit"].toArray(), 0)["job"].toInt(), pushId);
    EXPECT_EQ(item(h["audit"].toArray(), 0)["change"].toString(),
              QString::fromUtf8("Номер 9169990001 добавлен (строка 1, кв. 10)"));
}

TEST_F(CliFleet, ARegisterThatCannotBeUsedIsNamedAndLeftAsItWas) {
    spit(reg, "apartment;number\r\n");
    CliResult r = run({"fleet", "jobs"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("это не база SQLite"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(reg), "apartment;number\r\n");
    std::filesystem::remove(reg);
    {
        std::string error;
        ASSERT_TRUE(fleet::FleetRegister::open(reg, &error)) << error;
    }
    // A later program's register.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(reg.c_str(), &db), SQLITE_OK);
        const std::string sql = "PRAGMA user_version=" + std::to_string(fleet::kSchemaVersion + 1);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    r = run({"--json", "fleet", "devices"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("создан более новой версией программы"), std::string::npos) << r.err;
    EXPECT_EQ(r.json()["exitCode"].toInt(), 2);

    // Without --register: the data folder, made when missing.
    const std::string data = dir + "/data";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    r = runCli({"fleet", "jobs"}, dir);
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Заданий нет\n");
    EXPECT_TRUE(std::filesystem::exists(data + "/vxrt7-config/fleet.sqlite"));
}

TEST_F(CliFleet, EveryActionHasItsHelp) {
    for (const char* action :
         {"push", "add", "remove", "jobs", "devices", "find", "history", "cancel"}) {
        SCOPED_TRACE(action);
        const CliResult r = runCli({"fleet", action, "--help"}, dir);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out.rfind(std::string("Использование: vxrt7-cli fleet ") + action, 0), 0u)
            << r.out;
        EXPECT_NE(r.out.find("--register ФАЙЛ"), std::string::npos) << r.out;
    }
    const CliResult all = runCli({"fleet", "--help"}, dir);
    EXPECT_EQ(all.code, 0);
    EXPECT_NE(all.out.find("history --device N"), std::string::npos) << all.out;
    EXPECT_NE(runCli({"--help"}, dir).out.find("fleet ДЕЙСТВИЕ"), std::string::npos);
    const CliResult none = runCli({"fleet"}, dir);
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.err.find("не указано действие"), std::string::npos) << none.err;
}
