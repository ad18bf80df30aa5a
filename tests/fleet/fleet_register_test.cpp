#include "fleet/fleet_register.h"

#include "files/config_file.h"
#include "tests/fleet/device_contents.h"
#include "tests/support/child_test.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using fleet::FleetRegister;
using fleet::JobKind;
using fleet::JobRequest;
using fleet::JobState;

std::unique_ptr<FleetRegister> openOk(const std::string& path) {
    std::string error;
    auto reg = FleetRegister::open(path, &error);
    EXPECT_TRUE(reg) << error;
    return reg;
}

// Runs SQL on the file directly, as another program (or an older one) would.
void rawSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

std::string rawText(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(stmt, 0);
        out = text ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return out;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

JobRequest addRequest(const std::string& number, const std::string& apartment) {
    return {JobKind::Add, {}, number, apartment};
}

TEST(FleetRegisterFile, WhatIsNoRegisterOfThisProgramIsRefusedAndLeftAsItWas) {
    TempDir dir;
    // Made with its folders, WAL and the current schema.
    const std::string path = dir.filePath("a/b/fleet.sqlite");
    ASSERT_TRUE(openOk(path));
    EXPECT_EQ(rawText(path, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(rawText(path, "PRAGMA user_version"), std::to_string(fleet::kSchemaVersion));

    struct Case {
        std::string name;
        std::string sql;      // made with SQLite when not empty
        std::string bytes;    // else these bytes
        std::string expected; // in the message
    };
    const Case cases[] = {
        {"text.sqlite", "", "apartment;number\r\n14;9161110005\r\n", "это не база SQLite"},
        {"newer.sqlite",
         "PRAGMA application_id=1448628791; PRAGMA user_version=" +
             std::to_string(fleet::kSchemaVersion + 1) + "; CREATE TABLE devices(number);",
         "",
         "создан более новой версией программы (версия схемы " +
             std::to_string(fleet::kSchemaVersion + 1)},
        {"other.sqlite", "CREATE TABLE photos(id INTEGER PRIMARY KEY, name TEXT);", "",
         "база SQLite другой программы"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.filePath(c.name);
        if (c.sql.empty()) {
            std::ofstream(file, std::ios::binary) << c.bytes;
        } else {
            rawSql(file, c.sql);
        }
        const std::string before = slurp(file);
        std::string error;
        EXPECT_FALSE(FleetRegister::open(file, &error));
        EXPECT_NE(error.find("«" + file + "»"), std::string::npos) << error;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(slurp(file), before);
    }
    // A place where no register can be: a folder in its path is a file.
    std::string error;
    EXPECT_FALSE(FleetRegister::open(dir.filePath("text.sqlite/fleet.sqlite"), &error));
    EXPECT_NE(error.find("в пути есть имя, которое не является папкой"), std::string::npos)
        << error;
    EXPECT_FALSE(FleetRegister::open(dir.path(), &error));
    EXPECT_NE(error.find("не открыть: это папка, а не файл"), std::string::npos) << error;
    // The default lies beside the backups.
    EXPECT_EQ(FleetRegister::defaultPathFor("/x/data", "/home/u"),
              "/x/data/vxrt7-config/fleet.sqlite");
    EXPECT_EQ(FleetRegister::defaultPathFor(nullptr, "/home/u"),
              "/home/u/.local/share/vxrt7-config/fleet.sqlite");
}

TEST(FleetRegisterFile, ARegisterOfTheFirstSchemaIsMigratedWithWhatItHolds) {
    TempDir dir;
    const std::string path = dir.filePath("old.sqlite");
    // The first schema, as the first program that kept a register wrote it.
    rawSql(path, R"sql(
        PRAGMA application_id=1448628791;
        CREATE TABLE devices(number INTEGER PRIMARY KEY, password INTEGER,
            label TEXT NOT NULL DEFAULT '', last_seen INTEGER NOT NULL DEFAULT 0,
            address TEXT NOT NULL DEFAULT '', firmware TEXT NOT NULL DEFAULT '',
            conflict INTEGER NOT NULL DEFAULT 0);
        CREATE TABLE snapshots(id INTEGER PRIMARY KEY,
            device INTEGER NOT NULL REFERENCES devices(number), taken INTEGER NOT NULL,
            source TEXT NOT NULL, fcd BLOB NOT NULL, numbers INTEGER NOT NULL,
            backup TEXT NOT NULL DEFAULT '');
        CREATE TABLE jobs(id INTEGER PRIMARY KEY,
            device INTEGER NOT NULL REFERENCES devices(number), kind TEXT NOT NULL,
            file BLOB NOT NULL DEFAULT x'', number TEXT NOT NULL DEFAULT '',
            apartment TEXT NOT NULL DEFAULT '', state TEXT NOT NULL,
            tries INTEGER NOT NULL DEFAULT 0, error TEXT NOT NULL DEFAULT '',
            created INTEGER NOT NULL, started INTEGER NOT NULL DEFAULT 0,
            finished INTEGER NOT NULL DEFAULT 0);
        CREATE TABLE audit(id INTEGER PRIMARY KEY,
            device INTEGER NOT NULL REFERENCES devices(number), job INTEGER REFERENCES jobs(id),
            at INTEGER NOT NULL, change TEXT NOT NULL);
        INSERT INTO devices(number, password, last_seen, address) VALUES
            (7, 4321, 1000, '10.0.0.5:4000'), (8, 1111, 500, '10.0.0.5:4000'),
            (9, NULL, 0, '');
        INSERT INTO jobs(device, kind, number, apartment, state, tries, created)
            VALUES (7, 'add', '9161110005', '14', 'retry', 2, 900);
        PRAGMA user_version=1;
    )sql");
    // And a read of device 7 as that program kept it.
    const auto read = deviceContents(7, 4321, {{1, {"9161110001", "1"}}, {2, {"9161110002", "2"}}});
    {
        MemoryNumberGrid grid;
        config_file::fillGrid(read, grid);
        const std::string fcd = config_file::encode(read.block, grid).bytes;
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO snapshots(device, taken, source, fcd, numbers, backup)"
                           " VALUES (7, 950, 'serve', ?, 2, '/b/device-7.fcd')",
                           -1, &stmt, nullptr);
        sqlite3_bind_blob(stmt, 1, fcd.data(), static_cast<int>(fcd.size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }
    auto reg = openOk(path);
    ASSERT_TRUE(reg);
    EXPECT_EQ(rawText(path, "PRAGMA user_version"), std::to_string(fleet::kSchemaVersion));
    // The job waits as it did, its tries counted.
    const auto job = reg->nextJob(7);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state, JobState::Retry);
    EXPECT_EQ(job->tries, 2);
    EXPECT_EQ(job->request.number, "9161110005");
    // The address's password comes from the device seen last from it.
    EXPECT_EQ(reg->lastPasswordFrom("10.0.0.5:4000"), 4321);
    EXPECT_EQ(reg->knownPasswords(), (std::vector<std::uint16_t>{4321, 1111}));
    EXPECT_EQ(reg->devices().size(), 3u);
    EXPECT_EQ(reg->devices()[0].numbers, 2);
    const auto snapshot = reg->latestSnapshot(7);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->contents.rows, read.rows);
    EXPECT_EQ(snapshot->backupPath, "/b/device-7.fcd");
    EXPECT_EQ(reg->find("9161110002").size(), 1u);
    // Opening it again migrates nothing twice.
    reg.reset();
    reg = openOk(path);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->jobs().size(), 1u);
    EXPECT_EQ(rawText(path, "PRAGMA integrity_check"), "ok");
}

TEST(FleetRegisterJobs, StatesFollowTheRetryTheRestartAndTheCancelRules) {
    TempDir dir;
    const std::string path = dir.filePath("fleet.sqlite");
    auto reg = openOk(path);
    ASSERT_TRUE(reg);
    reg->deviceSeen(7, "10.0.0.5:4000", 4321, "3.0", 100);
    reg->deviceSeen(8, "10.0.0.6:4000", 1234, "3.0", 100);
    // A job for a device the register does not know is refused by the file
    // itself (foreign keys), with nothing of the batch kept.
    EXPECT_THROW(reg->queue({7, 99}, addRequest("9161110005", "14"), 200), fleet::RegisterError);
    EXPECT_TRUE(reg->jobs().empty());
    // Another program holding the write lock past the time-out: said so, in
    // Russian, and nothing kept.
    {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        try {
            reg->queue({7}, addRequest("9161110005", "14"), 200);
            ADD_FAILURE() << "queued under another program's lock";
        } catch (const fleet::RegisterError& e) {
            EXPECT_NE(std::string(e.what()).find("реестр занят другой программой дольше 5 с"),
                      std::string::npos)
                << e.what();
        }
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }
    EXPECT_TRUE(reg->jobs().empty());

    const auto ids = reg->queue({7, 8}, addRequest("9161110005", "14"), 200);
    const auto later = reg->queue({7}, {JobKind::Remove, {}, "9161110001", {}}, 300);
    ASSERT_EQ(ids.size(), 2u);
    // Oldest first, per device.
    ASSERT_TRUE(reg->nextJob(7));
    EXPECT_EQ(reg->nextJob(7)->id, ids[0]);
    EXPECT_EQ(reg->nextJob(8)->id, ids[1]);

    // Five tries: four failures go to retry, the fifth fails for good with
    // the last error.
    for (int attempt = 1; attempt <= fleet::kMaxTries; ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(reg->jobStarted(ids[0], 1000 + attempt));
        EXPECT_FALSE(reg->jobStarted(ids[0], 1000 + attempt)); // running already
        auto running = reg->job(ids[0]);
        EXPECT_EQ(running->state, JobState::Running);
        EXPECT_EQ(running->tries, attempt);
        EXPECT_EQ(running->started, 1000 + attempt);
        // A running job is not the next one, nor can it be cancelled.
        EXPECT_EQ(reg->nextJob(7)->id, later[0]);
        std::string why;
        EXPECT_FALSE(reg->cancel(ids[0], 1000, &why));
        EXPECT_NE(why.find("выполняется сейчас"), std::string::npos) << why;
        const JobState got =
            reg->jobFailed(ids[0], "связь прервалась, попытка " + std::to_string(attempt), 2000);
        EXPECT_EQ(got, attempt < fleet::kMaxTries ? JobState::Retry : JobState::Failed);
    }
    auto failed = reg->job(ids[0]);
    EXPECT_EQ(failed->state, JobState::Failed);
    EXPECT_EQ(failed->error, "связь прервалась, попытка 5");
    EXPECT_EQ(failed->finished, 2000);
    EXPECT_EQ(reg->nextJob(7)->id, later[0]);

    // A refusal by the plan fails at once.
    ASSERT_TRUE(reg->jobStarted(later[0], 3000));
    reg->jobRefused(later[0], "номер уже есть", 3001);
    EXPECT_EQ(reg->job(later[0])->state, JobState::Failed);
    EXPECT_EQ(reg->job(later[0])->tries, 1);

    // A server that stopped with jobs running: each goes to retry, or fails
    // when that was its last try.
    const auto cut = reg->queue({7, 8}, addRequest("9161110006", ""), 4000);
    ASSERT_TRUE(reg->jobStarted(ids[1], 4001));
    ASSERT_TRUE(reg->jobStarted(cut[0], 4001));
    for (int i = 1; i < fleet::kMaxTries; ++i) {
        ASSERT_EQ(reg->jobFailed(cut[0], "обрыв", 4002), JobState::Retry);
        ASSERT_TRUE(reg->jobStarted(cut[0], 4003));
    }
    reg.reset();
    reg = openOk(path);
    EXPECT_EQ(reg->recoverRunningJobs(5000), 2);
    EXPECT_EQ(reg->job(ids[1])->state, JobState::Retry);
    EXPECT_EQ(reg->job(ids[1])->tries, 1);
    EXPECT_EQ(reg->job(cut[0])->state, JobState::Failed);
    EXPECT_EQ(reg->recoverRunningJobs(5001), 0);

    // Cancel: a waiting job is cancelled and never handed out again; a
    // finished or unknown one says why not.
    std::string why;
    EXPECT_TRUE(reg->cancel(ids[1], 6000, &why));
    EXPECT_EQ(reg->job(ids[1])->state, JobState::Cancelled);
    EXPECT_FALSE(reg->jobStarted(ids[1], 6001));
    EXPECT_EQ(reg->nextJob(8)->id, cut[1]);
    EXPECT_FALSE(reg->cancel(ids[0], 6000, &why));
    EXPECT_NE(why.find("уже не в очереди (состояние failed)"), std::string::npos) << why;
    EXPECT_FALSE(reg->cancel(12345, 6000, &why));
    EXPECT_NE(why.find("задания 12345 нет"), std::string::npos) << why;
    // Done keeps its note.
    ASSERT_TRUE(reg->jobStarted(cut[1], 7000));
    reg->jobDone(cut[1], 7001, "записывать нечего");
    EXPECT_EQ(reg->job(cut[1])->state, JobState::Done);
    EXPECT_EQ(reg->job(cut[1])->error, "записывать нечего");
    EXPECT_FALSE(reg->nextJob(8));
}

TEST(FleetRegisterDevices, SightingsSnapshotsAuditAndTheirListings) {
    TempDir dir;
    const std::string path = dir.filePath("fleet.sqlite");
    auto reg = openOk(path);
    auto other = openOk(path); // a `fleet` command beside the server
    ASSERT_TRUE(reg && other);
    const std::int64_t quiet = reg->externalChanges();
    EXPECT_EQ(reg->externalChanges(), quiet);

    reg->deviceSeen(7, "10.0.0.5:4000", 4321, "3.0", 100);
    reg->deviceSeen(8, "10.0.0.6:4000", 1111, "3.0", 200);
    reg->deviceSeen(7, "10.0.0.7:4000", 5555, "3.1", 300); // moved, its password changed
    reg->deviceSeen(8, "10.0.0.6:4000", 1111, "", 200);    // its version not asked this time
    reg->unknownDevice("10.0.0.9:4000", 400);
    EXPECT_EQ(reg->lastPasswordFrom("10.0.0.5:4000"), 4321);
    EXPECT_EQ(reg->lastPasswordFrom("10.0.0.7:4000"), 5555);
    EXPECT_FALSE(reg->lastPasswordFrom("10.0.0.9:4000"));
    EXPECT_EQ(reg->knownPasswords(), (std::vector<std::uint16_t>{5555, 1111, 4321}));
    // Unknown addresses are counted, and forgotten once a device is opened
    // from there.
    reg->unknownDevice("10.0.0.9:4000", 450);
    reg->unknownDevice("10.0.0.5:4000", 410);
    reg->deviceSeen(10, "10.0.0.5:4000", 4321, "3.0", 420);
    const auto unknown = reg->unknownDevices();
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown[0].address, "10.0.0.9:4000");
    EXPECT_EQ(unknown[0].attempts, 2);
    EXPECT_EQ(unknown[0].firstSeen, 400);
    EXPECT_EQ(unknown[0].lastSeen, 450);

    // Every complete read is a snapshot and a backup file.
    const auto first =
        deviceContents(7, 5555, {{1, {"9161110001", "1"}}, {2, {"9161110002", "2"}}});
    const auto second =
        deviceContents(7, 5555, {{1, {"9161110002", "2"}}, {3, {"9161110003", "0"}}});
    std::string backupError;
    reg->addSnapshot(7, first, 500, "serve", dir.filePath("backups"), &backupError);
    reg->addSnapshot(7, second, 600, "job 1", dir.filePath("backups"), &backupError);
    reg->addSnapshot(8, deviceContents(8, 1111, {{5, {"9161110002", "14"}}}), 600, "serve", "");
    EXPECT_EQ(backupError, "");
    // The same read again: one copy of it, one backup file, as long as that
    // file is there.
    const auto firstBackup = reg->latestSnapshot(7)->backupPath;
    reg->addSnapshot(7, second, 650, "serve", dir.filePath("backups"), &backupError);
    EXPECT_EQ(reg->latestSnapshot(7)->backupPath, firstBackup);
    EXPECT_EQ(rawText(path, "SELECT count(*) FROM contents"), "3");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.filePath("backups")),
                            std::filesystem::directory_iterator()),
              2);
    std::filesystem::remove(firstBackup);
    reg->addSnapshot(7, second, 660, "serve", dir.filePath("backups"), &backupError);
    EXPECT_TRUE(std::filesystem::exists(reg->latestSnapshot(7)->backupPath));
    const auto latest = reg->latestSnapshot(7);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->contents.rows, second.rows);
    EXPECT_EQ(latest->contents.block, second.block);
    config_file::DecodeError error;
    const auto backup = config_file::decode(slurp(latest->backupPath), &error);
    ASSERT_TRUE(backup) << latest->backupPath;
    EXPECT_EQ(backup->rows, second.rows);

    // Find looks at each device's latest snapshot only.
    const auto holders = reg->find("9161110002");
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].device, 7u);
    EXPECT_EQ(holders[0].row, 1);
    EXPECT_EQ(holders[1].device, 8u);
    EXPECT_EQ(holders[1].row, 5);
    EXPECT_EQ(holders[1].apartment, "14");
    EXPECT_TRUE(reg->find("9161110001").empty());

    // A job queued by the other connection is seen to have come.
    const std::int64_t before = reg->externalChanges();
    const auto ids = other->queue({7}, addRequest("9161110009", "9"), 700);
    EXPECT_NE(reg->externalChanges(), before);
    reg->setConflict(8, true, 800);
    reg->audit(7, ids[0], {"Номер 9161110009 добавлен (строка 3, кв. 9)", "второе"}, 900);

    const auto devices = reg->devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].number, 7u);
    EXPECT_EQ(devices[0].address, "10.0.0.7:4000");
    EXPECT_EQ(devices[0].firmwareVersion, "3.1");
    EXPECT_EQ(devices[0].lastSeen, 300);
    EXPECT_EQ(devices[0].numbers, 2);
    EXPECT_EQ(devices[0].pending, 1);
    EXPECT_FALSE(devices[0].conflict);
    EXPECT_TRUE(devices[1].conflict);
    EXPECT_EQ(devices[1].firmwareVersion, "3.0");
    EXPECT_EQ(devices[1].pending, 0);
    reg->setConflict(8, false, 1000);
    EXPECT_FALSE(reg->device(8)->conflict);

    const fleet::History h = reg->history(7);
    ASSERT_EQ(h.snapshots.size(), 4u);
    EXPECT_EQ(h.snapshots[1].source, "job 1");
    ASSERT_EQ(h.jobs.size(), 1u);
    ASSERT_EQ(h.audit.size(), 2u);
    EXPECT_EQ(h.audit[0].job, ids[0]);
    EXPECT_EQ(h.audit[1].change, "второе");
}

// The child's part of the test below: a stream of state changes as a server
// makes them, each job's id written out once its queueing is committed,
// until it is killed.
void changeStream(const char* path) {
    std::string error;
    auto reg = FleetRegister::open(path, &error);
    if (!reg) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return;
    }
    fleet::Millis now = 1'000'000 + ::getpid();
    reg->recoverRunningJobs(now);
    reg->deviceSeen(7, "10.0.0.5:4000", 4321, "3.0", now);
    const auto contents = deviceContents(7, 4321, {{1, {"9161110001", "1"}}});
    for (int n = 0;; ++n) {
        const auto ids = reg->queue({7}, addRequest(std::to_string(9161000000LL + n), "1"), ++now);
        const std::string line = "queued " + std::to_string(ids[0]) + "\n";
        if (::write(1, line.data(), line.size()) < 0) {
            return;
        }
        const auto job = reg->nextJob(7);
        if (job && reg->jobStarted(job->id, ++now)) {
            reg->addSnapshot(7, contents, ++now, "job", "");
            if (n % 3 == 0) {
                reg->jobFailed(job->id, "обрыв", ++now);
            } else {
                reg->audit(7, job->id, {"изменение"}, ++now);
                reg->jobDone(job->id, ++now);
            }
        }
    }
}

TEST(FleetRegisterKill, ASigkillAtAnyMomentLosesNoJob) {
    if (const char* path = std::getenv("VXRT7_FLEET_STREAM")) {
        changeStream(path);
        return;
    }
    TempDir dir;
    const std::string path = dir.filePath("fleet.sqlite");
    // A `fleet` command queueing beside the child: it waits for its turn
    // (the busy time-out) and never fails.
    auto command = openOk(path);
    ASSERT_TRUE(command);
    command->deviceSeen(7, "10.0.0.5:4000", 4321, "3.0", 1);
    std::set<std::int64_t> queued;
    for (int round = 1; round <= 4; ++round) {
        SCOPED_TRACE(round);
        ChildTest child("FleetRegisterKill.ASigkillAtAnyMomentLosesNoJob",
                        {{"VXRT7_FLEET_STREAM", path}}, false);
        // Killed once it has gone on a while: at whatever step it is in.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::stoll("0" +
                          rawText(path, "SELECT count(*) FROM jobs WHERE number <> '9169999999'")) <
                   round * 50 &&
               std::chrono::steady_clock::now() < limit) {
            for (std::int64_t id : command->queue({7}, addRequest("9169999999", "9"), round)) {
                queued.insert(id);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(::kill(child.pid(), SIGKILL), 0);
        EXPECT_EQ(child.wait(), -1); // killed, not ended
        std::istringstream lines(child.output());
        std::string word;
        std::int64_t id = 0;
        while (lines >> word) {
            if (word == "queued" && lines >> id) {
                queued.insert(id);
            }
        }
        EXPECT_EQ(rawText(path, "PRAGMA integrity_check"), "ok");
    }
    // A kill may fall between a commit and its line: at most one per round
    // is committed unannounced.
    ASSERT_GE(queued.size(), 4u * 50u - 4u);
    auto reg = openOk(path);
    ASSERT_TRUE(reg);
    const int running = reg->recoverRunningJobs(99'000'000);
    EXPECT_LE(running, 1);
    std::set<std::int64_t> held;
    for (const fleet::Job& job : reg->jobs()) {
        held.insert(job.id);
        EXPECT_NE(job.state, JobState::Running) << job.id;
        // Every started job counted its try; none was lost half-way.
        if (job.state != JobState::Pending) {
            EXPECT_GE(job.tries, 1) << job.id;
        }
    }
    for (std::int64_t id : queued) {
        EXPECT_TRUE(held.count(id)) << "job " << id << " was committed and is gone";
    }
    EXPECT_EQ(rawText(path, "PRAGMA foreign_key_check"), "");
}

} // namespace
