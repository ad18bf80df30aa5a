#include "fleet/fleet_register.h"

#include "files/backups.h"
#include "files/file_io.h"
#include "files/number_grid.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fleet {

namespace {

// "VXR7": marks the file as this program's register.
constexpr int kApplicationId = 0x56585237;
constexpr int kBusyTimeoutMs = 5000;

// The schema, one step per version: step i takes a register from version i
// to version i + 1, in one transaction with the version's change.
const char* const kMigrations[] = {
    // 1: devices, their snapshots, jobs and the audit log.
    R"sql(
    CREATE TABLE devices(
        number INTEGER PRIMARY KEY,
        password INTEGER,
        label TEXT NOT NULL DEFAULT '',
        last_seen INTEGER NOT NULL DEFAULT 0,
        address TEXT NOT NULL DEFAULT '',
        firmware TEXT NOT NULL DEFAULT '',
        conflict INTEGER NOT NULL DEFAULT 0);
    CREATE TABLE snapshots(
        id INTEGER PRIMARY KEY,
        device INTEGER NOT NULL REFERENCES devices(number),
        taken INTEGER NOT NULL,
        source TEXT NOT NULL,
        fcd BLOB NOT NULL,
        numbers INTEGER NOT NULL,
        backup TEXT NOT NULL DEFAULT '');
    CREATE TABLE jobs(
        id INTEGER PRIMARY KEY,
        device INTEGER NOT NULL REFERENCES devices(number),
        kind TEXT NOT NULL,
        file BLOB NOT NULL DEFAULT x'',
        number TEXT NOT NULL DEFAULT '',
        apartment TEXT NOT NULL DEFAULT '',
        state TEXT NOT NULL,
        tries INTEGER NOT NULL DEFAULT 0,
        error TEXT NOT NULL DEFAULT '',
        created INTEGER NOT NULL,
        started INTEGER NOT NULL DEFAULT 0,
        finished INTEGER NOT NULL DEFAULT 0);
    CREATE TABLE audit(
        id INTEGER PRIMARY KEY,
        device INTEGER NOT NULL REFERENCES devices(number),
        job INTEGER REFERENCES jobs(id),
        at INTEGER NOT NULL,
        change TEXT NOT NULL);
    )sql",
    // 2: the password last used from each address, the connections no
    // password opened, and the index the server's job look-up uses.
    R"sql(
    CREATE TABLE addresses(
        address TEXT PRIMARY KEY,
        password INTEGER NOT NULL,
        used INTEGER NOT NULL);
    INSERT INTO addresses(address, password, used)
        SELECT address, password, last_seen FROM devices
        WHERE address <> '' AND password IS NOT NULL
        ORDER BY last_seen
        ON CONFLICT(address) DO UPDATE SET password = excluded.password, used = excluded.used;
    CREATE TABLE unknown_devices(
        address TEXT PRIMARY KEY,
        first_seen INTEGER NOT NULL,
        last_seen INTEGER NOT NULL,
        attempts INTEGER NOT NULL);
    CREATE INDEX jobs_by_device ON jobs(device, state, created);
    CREATE INDEX snapshots_by_device ON snapshots(device, taken);
    )sql",
    // 3: what a read found kept once for the reads of a device that found
    // the same (a device that reconnects every few minutes would otherwise
    // add its whole list each time).
    R"sql(
    CREATE TABLE contents(
        id INTEGER PRIMARY KEY,
        fcd BLOB NOT NULL,
        numbers INTEGER NOT NULL);
    INSERT INTO contents(id, fcd, numbers) SELECT id, fcd, numbers FROM snapshots;
    CREATE TABLE snapshots_3(
        id INTEGER PRIMARY KEY,
        device INTEGER NOT NULL REFERENCES devices(number),
        taken INTEGER NOT NULL,
        source TEXT NOT NULL,
        content INTEGER NOT NULL REFERENCES contents(id),
        backup TEXT NOT NULL DEFAULT '');
    INSERT INTO snapshots_3(id, device, taken, source, content, backup)
        SELECT id, device, taken, source, id, backup FROM snapshots;
    DROP TABLE snapshots;
    ALTER TABLE snapshots_3 RENAME TO snapshots;
    CREATE INDEX snapshots_by_device ON snapshots(device, taken);
    )sql",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

std::string quotedPath(const std::string& path) {
    return "«" + path + "»";
}

std::optional<JobState> stateFromName(const std::string& name) {
    for (JobState s : {JobState::Pending, JobState::Running, JobState::Done, JobState::Failed,
                       JobState::Retry, JobState::Cancelled}) {
        if (name == stateName(s)) {
            return s;
        }
    }
    return std::nullopt;
}

// What went wrong, for the user: the Russian reason of the failures a user
// can do something about, then SQLite's own words.
RegisterError failure(sqlite3* db) {
    const std::string detail = sqlite3_errmsg(db);
    std::string reason;
    switch (sqlite3_errcode(db) & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = "реестр занят другой программой дольше " + std::to_string(kBusyTimeoutMs / 1000) +
                 " с, попробуйте ещё раз";
        break;
    case SQLITE_FULL:
        reason = "на диске нет места";
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        reason = "нет права записи в реестр";
        break;
    case SQLITE_IOERR:
        reason = "ошибка чтения или записи диска";
        break;
    case SQLITE_CORRUPT:
        reason = "файл реестра повреждён";
        break;
    default:
        return RegisterError("Ошибка реестра: " + detail);
    }
    return RegisterError("Ошибка реестра: " + reason + " (" + detail + ")");
}

// One prepared statement, finalised when it goes.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            throw failure(db);
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, std::int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindBlob(int i, const std::string& v) {
        sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    Statement& bindNull(int i) {
        sqlite3_bind_null(stmt_, i);
        return *this;
    }
    // Whether a row came; throws on an error.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        throw failure(db_);
    }
    std::int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::string text(int col) const {
        const void* p = sqlite3_column_blob(stmt_, col);
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }

  private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw failure(db);
    }
}

// One change, committed whole or not at all. BEGIN IMMEDIATE takes the
// write lock at once, so two writers wait on the busy time-out instead of
// failing half-way.
//
// With the WAL journal a commit is in the file once COMMIT returns, whatever
// happens to the process after; Sync::OnDisk also waits until the disk has it
// (a job that a user queued survives a power cut). The server's many small
// changes do not wait for the disk: a sync per change would hold up every
// device it serves.
class Transaction {
  public:
    enum class Sync { OnDisk, InFile };
    explicit Transaction(sqlite3* db, Sync sync = Sync::InFile) : db_(db), sync_(sync) {
        if (sync_ == Sync::OnDisk) {
            exec(db_, "PRAGMA synchronous=FULL");
        }
        exec(db_, "BEGIN IMMEDIATE");
    }
    ~Transaction() {
        if (!committed_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        if (sync_ == Sync::OnDisk) {
            sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        }
    }
    void commit() {
        exec(db_, "COMMIT");
        committed_ = true;
    }

  private:
    sqlite3* db_;
    Sync sync_;
    bool committed_ = false;
};

std::int64_t pragmaInt(sqlite3* db, const char* sql) {
    Statement s(db, sql);
    return s.step() ? s.integer(0) : 0;
}

const char* const kJobColumns =
    "id, device, kind, file, number, apartment, state, tries, error, created, started, finished";

Job jobFrom(const Statement& s) {
    Job job;
    job.id = s.integer(0);
    job.device = static_cast<unsigned>(s.integer(1));
    job.request.kind = kindFromName(s.text(2)).value_or(JobKind::Push);
    job.request.file = s.text(3);
    job.request.number = s.text(4);
    job.request.apartment = s.text(5);
    job.state = stateFromName(s.text(6)).value_or(JobState::Failed);
    job.tries = static_cast<int>(s.integer(7));
    job.error = s.text(8);
    job.created = s.integer(9);
    job.started = s.integer(10);
    job.finished = s.integer(11);
    return job;
}

std::vector<Job> jobsWhere(sqlite3* db, const std::string& where, std::int64_t arg) {
    Statement s(db, ("SELECT " + std::string(kJobColumns) + " FROM jobs " + where).c_str());
    if (where.find('?') != std::string::npos) {
        s.bind(1, arg);
    }
    std::vector<Job> out;
    while (s.step()) {
        out.push_back(jobFrom(s));
    }
    return out;
}

std::chrono::system_clock::time_point timePoint(Millis ms) {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

} // namespace

const char* stateName(JobState state) {
    switch (state) {
    case JobState::Pending:
        return "pending";
    case JobState::Running:
        return "running";
    case JobState::Done:
        return "done";
    case JobState::Failed:
        return "failed";
    case JobState::Retry:
        return "retry";
    case JobState::Cancelled:
        return "cancelled";
    }
    return "pending";
}

std::string FleetRegister::defaultPathFor(const char* xdgDataHome, const char* home) {
    // Beside the backup folder, in the program's data folder.
    const std::string dir = backups::folderFor(xdgDataHome, home);
    if (dir.empty()) {
        return {};
    }
    return std::filesystem::path(dir).parent_path().string() + "/fleet.sqlite";
}

std::string FleetRegister::defaultPath() {
    return defaultPathFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

FleetRegister::FleetRegister(std::string path, sqlite3* db) : db_(db), path_(std::move(path)) {}

FleetRegister::~FleetRegister() {
    sqlite3_close_v2(db_);
}

std::unique_ptr<FleetRegister> FleetRegister::open(const std::string& path, std::string* error) {
    auto failed = [&](const std::string& text) {
        if (error) {
            *error = text;
        }
        return nullptr;
    };
    if (path.empty()) {
        return failed("Реестр парка устройств не найти: не задан ни XDG_DATA_HOME, ни HOME");
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!parent.empty() && std::filesystem::create_directories(parent, ec)) {
        // The register holds the devices' passwords: for the user alone.
        ::chmod(parent.c_str(), 0700);
    }
    if (ec) {
        return failed("Реестр " + quotedPath(path) + " не открыть: папку " +
                      quotedPath(parent.string()) +
                      " не создать: " + file_io::reasonText(ec.value()));
    }
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const int code = db ? sqlite3_system_errno(db) : 0;
        const std::string why = code != 0 ? file_io::reasonText(code)
                                : db      ? sqlite3_errmsg(db)
                                          : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        return failed("Реестр " + quotedPath(path) + " не открыть: " + why);
    }
    std::unique_ptr<FleetRegister> reg(new FleetRegister(path, db));
    // SQLite's own busy handler backs off to 100 ms between tries, and a
    // busy writer (a server with many devices) takes the lock again in the
    // moment between two of its transactions: a `fleet` command would wait
    // out the whole time-out. Trying every millisecond gets it in.
    sqlite3_busy_handler(
        db,
        [](void*, int count) {
            if (count >= kBusyTimeoutMs) {
                return 0;
            }
            sqlite3_sleep(1);
            return 1;
        },
        nullptr);
    try {
        // The first read of the file tells whether it is a database at all.
        const std::int64_t version = pragmaInt(db, "PRAGMA user_version");
        const std::int64_t application = pragmaInt(db, "PRAGMA application_id");
        const std::int64_t tables = pragmaInt(db, "SELECT count(*) FROM sqlite_master");
        if (application != kApplicationId && (version != 0 || tables != 0)) {
            return failed("Файл " + quotedPath(path) +
                          " — база SQLite другой программы, а не реестр парка устройств");
        }
        if (version > kSchemaVersion) {
            return failed("Реестр " + quotedPath(path) +
                          " создан более новой версией программы (версия схемы " +
                          std::to_string(version) + ", эта программа знает версии до " +
                          std::to_string(kSchemaVersion) + "): обновите программу");
        }
        exec(db, "PRAGMA journal_mode=WAL");
        exec(db, "PRAGMA synchronous=NORMAL");
        exec(db, "PRAGMA foreign_keys=ON");
        for (std::int64_t v = version; v < kSchemaVersion; ++v) {
            Transaction t(db);
            // Another process may have migrated it meanwhile.
            if (pragmaInt(db, "PRAGMA user_version") > v) {
                continue;
            }
            exec(db, kMigrations[v]);
            exec(db, ("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
            exec(db, ("PRAGMA user_version=" + std::to_string(v + 1)).c_str());
            t.commit();
        }
    } catch (const RegisterError& e) {
        if (sqlite3_errcode(db) == SQLITE_NOTADB) {
            return failed("Файл " + quotedPath(path) +
                          " не является реестром парка устройств: это не база SQLite");
        }
        return failed("Реестр " + quotedPath(path) + " не открыть: " + e.what());
    }
    return reg;
}

std::optional<std::uint16_t> FleetRegister::lastPasswordFrom(const std::string& address) {
    Statement s(db_, "SELECT password FROM addresses WHERE address = ?");
    s.bind(1, address);
    if (s.step()) {
        return static_cast<std::uint16_t>(s.integer(0));
    }
    return std::nullopt;
}

std::vector<std::uint16_t> FleetRegister::knownPasswords() {
    Statement s(db_, "SELECT password FROM ("
                     "  SELECT password, last_seen AS used FROM devices WHERE password IS NOT NULL"
                     "  UNION ALL SELECT password, used FROM addresses)"
                     " GROUP BY password ORDER BY max(used) DESC, password");
    std::vector<std::uint16_t> out;
    while (s.step()) {
        out.push_back(static_cast<std::uint16_t>(s.integer(0)));
    }
    return out;
}

void FleetRegister::deviceSeen(unsigned number, const std::string& address, std::uint16_t password,
                               const std::string& firmwareVersion, Millis when) {
    Transaction t(db_);
    Statement d(db_, "INSERT INTO devices(number, password, last_seen, address, firmware)"
                     " VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(number) DO UPDATE SET"
                     " password = ?2, last_seen = ?3, address = ?4,"
                     " firmware = CASE WHEN ?5 <> '' THEN ?5 ELSE firmware END");
    d.bind(1, number).bind(2, password).bind(3, when).bind(4, address).bind(5, firmwareVersion);
    d.step();
    Statement a(db_, "INSERT INTO addresses(address, password, used) VALUES(?1, ?2, ?3)"
                     " ON CONFLICT(address) DO UPDATE SET password = ?2, used = ?3");
    a.bind(1, address).bind(2, password).bind(3, when);
    a.step();
    t.commit();
}

void FleetRegister::unknownDevice(const std::string& address, Millis when) {
    Transaction t(db_);
    Statement s(db_, "INSERT INTO unknown_devices(address, first_seen, last_seen, attempts)"
                     " VALUES(?1, ?2, ?2, 1) ON CONFLICT(address) DO UPDATE SET"
                     " last_seen = ?2, attempts = attempts + 1");
    s.bind(1, address).bind(2, when);
    s.step();
    t.commit();
}

std::vector<UnknownDevice> FleetRegister::unknownDevices() {
    Statement s(db_, "SELECT u.address, u.first_seen, u.last_seen, u.attempts"
                     " FROM unknown_devices u LEFT JOIN addresses a ON a.address = u.address"
                     " WHERE a.used IS NULL OR a.used < u.last_seen"
                     " ORDER BY u.last_seen DESC, u.address");
    std::vector<UnknownDevice> out;
    while (s.step()) {
        out.push_back({s.text(0), s.integer(1), s.integer(2), static_cast<int>(s.integer(3))});
    }
    return out;
}

void FleetRegister::setConflict(unsigned number, bool conflict, Millis when) {
    Transaction t(db_);
    // A device first met in a conflict is known from then on, never opened
    // by a job until the conflict is cleared.
    Statement s(db_, "INSERT INTO devices(number, conflict, last_seen) VALUES(?1, ?2, ?3)"
                     " ON CONFLICT(number) DO UPDATE SET conflict = ?2");
    s.bind(1, number).bind(2, conflict ? 1 : 0).bind(3, when);
    s.step();
    t.commit();
}

std::int64_t FleetRegister::addSnapshot(unsigned device, const DeviceContents& contents,
                                        Millis when, const std::string& source,
                                        const std::string& backupDir, std::string* backupError) {
    MemoryNumberGrid grid;
    config_file::fillGrid(contents, grid);
    const config_file::Encoded file = config_file::encode(contents.block, grid);
    if (!file.ok()) {
        throw RegisterError("Снимок прибора " + std::to_string(device) +
                            " не сохранить: " + *file.error);
    }
    int numbers = 0;
    for (const auto& row : contents.rows) {
        numbers += row[0].empty() ? 0 : 1;
    }
    // A read that found what the device's latest one found adds no second
    // copy of it, and no second backup while the first is still there.
    std::int64_t content = 0;
    std::string backupPath;
    {
        Statement last(db_, "SELECT c.id, c.fcd, s.backup FROM snapshots s"
                            " JOIN contents c ON c.id = s.content WHERE s.device = ?"
                            " ORDER BY s.taken DESC, s.id DESC LIMIT 1");
        last.bind(1, device);
        if (last.step() && last.text(1) == file.bytes) {
            content = last.integer(0);
            std::error_code ec;
            if (!last.text(2).empty() && std::filesystem::exists(last.text(2), ec)) {
                backupPath = last.text(2);
            }
        }
    }
    if (!backupDir.empty() && backupPath.empty()) {
        file_io::FileError fe;
        if (auto saved = backups::save(file.bytes, device, timePoint(when), backupDir, &fe)) {
            backupPath = *saved;
        } else if (backupError) {
            *backupError = "Резервная копия прибора " + std::to_string(device) + " в " +
                           quotedPath(backupDir) + " не сохранена: " + fe.reason;
        }
    }
    Transaction t(db_);
    Statement d(db_, "INSERT INTO devices(number, last_seen) VALUES(?1, ?2)"
                     " ON CONFLICT(number) DO NOTHING");
    d.bind(1, device).bind(2, when);
    d.step();
    if (content == 0) {
        Statement c(db_, "INSERT INTO contents(fcd, numbers) VALUES(?, ?)");
        c.bindBlob(1, file.bytes).bind(2, numbers);
        c.step();
        content = sqlite3_last_insert_rowid(db_);
    }
    Statement s(db_, "INSERT INTO snapshots(device, taken, source, content, backup)"
                     " VALUES(?, ?, ?, ?, ?)");
    s.bind(1, device).bind(2, when).bind(3, source).bind(4, content).bind(5, backupPath);
    s.step();
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    t.commit();
    return id;
}

std::optional<Snapshot> FleetRegister::latestSnapshot(unsigned device) {
    Statement s(db_, "SELECT s.id, s.taken, s.source, c.fcd, s.backup FROM snapshots s"
                     " JOIN contents c ON c.id = s.content WHERE s.device = ?"
                     " ORDER BY s.taken DESC, s.id DESC LIMIT 1");
    s.bind(1, device);
    if (!s.step()) {
        return std::nullopt;
    }
    Snapshot snap;
    snap.id = s.integer(0);
    snap.device = device;
    snap.taken = s.integer(1);
    snap.source = s.text(2);
    snap.backupPath = s.text(4);
    config_file::DecodeError error;
    if (auto decoded = config_file::decode(s.text(3), &error)) {
        snap.contents = std::move(*decoded);
    } else {
        throw RegisterError("Снимок " + std::to_string(snap.id) + " прибора " +
                            std::to_string(device) + " повреждён: " + error.reason);
    }
    return snap;
}

std::vector<std::int64_t> FleetRegister::queue(const std::vector<unsigned>& devices,
                                               const JobRequest& request, Millis when) {
    Transaction t(db_, Transaction::Sync::OnDisk);
    Statement s(db_, "INSERT INTO jobs(device, kind, file, number, apartment, state, created)"
                     " VALUES(?, ?, ?, ?, ?, 'pending', ?)");
    std::vector<std::int64_t> ids;
    for (unsigned device : devices) {
        s.reset();
        s.bind(1, device).bind(2, std::string(kindName(request.kind)));
        s.bindBlob(3, request.file).bind(4, request.number).bind(5, request.apartment);
        s.bind(6, when);
        s.step();
        ids.push_back(sqlite3_last_insert_rowid(db_));
    }
    t.commit();
    return ids;
}

std::optional<Job> FleetRegister::nextJob(unsigned device) {
    auto found = jobsWhere(db_,
                           "WHERE device = ? AND state IN ('pending', 'retry')"
                           " ORDER BY created, id LIMIT 1",
                           device);
    if (found.empty()) {
        return std::nullopt;
    }
    return std::move(found.front());
}

std::optional<Job> FleetRegister::job(std::int64_t id) {
    auto found = jobsWhere(db_, "WHERE id = ?", id);
    if (found.empty()) {
        return std::nullopt;
    }
    return std::move(found.front());
}

bool FleetRegister::jobStarted(std::int64_t id, Millis when) {
    Transaction t(db_);
    Statement s(db_, "UPDATE jobs SET state = 'running', tries = tries + 1, started = ?"
                     " WHERE id = ? AND state IN ('pending', 'retry')");
    s.bind(1, when).bind(2, id);
    s.step();
    const bool started = sqlite3_changes(db_) == 1;
    t.commit();
    return started;
}

void FleetRegister::jobDone(std::int64_t id, Millis when, const std::string& note) {
    Transaction t(db_);
    Statement s(db_, "UPDATE jobs SET state = 'done', error = ?, finished = ?"
                     " WHERE id = ? AND state = 'running'");
    s.bind(1, note).bind(2, when).bind(3, id);
    s.step();
    t.commit();
}

JobState FleetRegister::jobFailed(std::int64_t id, const std::string& error, Millis when) {
    Transaction t(db_);
    Statement s(db_, "UPDATE jobs SET error = ?1,"
                     " state = CASE WHEN tries < ?2 THEN 'retry' ELSE 'failed' END,"
                     " finished = CASE WHEN tries < ?2 THEN 0 ELSE ?3 END"
                     " WHERE id = ?4 AND state = 'running'");
    s.bind(1, error).bind(2, kMaxTries).bind(3, when).bind(4, id);
    s.step();
    Statement r(db_, "SELECT state FROM jobs WHERE id = ?");
    r.bind(1, id);
    const JobState state =
        r.step() ? stateFromName(r.text(0)).value_or(JobState::Failed) : JobState::Failed;
    t.commit();
    return state;
}

void FleetRegister::jobRefused(std::int64_t id, const std::string& reason, Millis when) {
    Transaction t(db_);
    Statement s(db_, "UPDATE jobs SET state = 'failed', error = ?, finished = ?"
                     " WHERE id = ? AND state = 'running'");
    s.bind(1, reason).bind(2, when).bind(3, id);
    s.step();
    t.commit();
}

int FleetRegister::recoverRunningJobs(Millis when) {
    Transaction t(db_);
    // A job cut by the end of the server is tried again, within its tries:
    // one that was on its last try has failed.
    Statement s(db_, "UPDATE jobs SET error = ?1,"
                     " state = CASE WHEN tries < ?2 THEN 'retry' ELSE 'failed' END,"
                     " finished = CASE WHEN tries < ?2 THEN 0 ELSE ?3 END"
                     " WHERE state = 'running'");
    s.bind(1, std::string("сервер остановился во время задания")).bind(2, kMaxTries);
    s.bind(3, when);
    s.step();
    const int n = sqlite3_changes(db_);
    t.commit();
    return n;
}

bool FleetRegister::cancel(std::int64_t id, Millis when, std::string* why) {
    Transaction t(db_, Transaction::Sync::OnDisk);
    Statement s(db_, "UPDATE jobs SET state = 'cancelled', finished = ?"
                     " WHERE id = ? AND state IN ('pending', 'retry')");
    s.bind(1, when).bind(2, id);
    s.step();
    if (sqlite3_changes(db_) == 1) {
        t.commit();
        return true;
    }
    Statement r(db_, "SELECT state FROM jobs WHERE id = ?");
    r.bind(1, id);
    std::string text;
    if (!r.step()) {
        text = "задания " + std::to_string(id) + " нет в реестре";
    } else if (r.text(0) == stateName(JobState::Running)) {
        text = "задание " + std::to_string(id) +
               " выполняется сейчас: отменить можно только задание, которое не выполняется";
    } else {
        text = "задание " + std::to_string(id) + " уже не в очереди (состояние " + r.text(0) + ")";
    }
    if (why) {
        *why = text;
    }
    return false;
}

std::vector<Job> FleetRegister::jobs() {
    return jobsWhere(db_, "ORDER BY id", 0);
}

void FleetRegister::audit(unsigned device, std::int64_t job,
                          const std::vector<std::string>& changes, Millis when) {
    Transaction t(db_);
    for (const std::string& change : changes) {
        Statement s(db_, "INSERT INTO audit(device, job, at, change) VALUES(?, ?, ?, ?)");
        s.bind(1, device);
        if (job > 0) {
            s.bind(2, job);
        } else {
            s.bindNull(2);
        }
        s.bind(3, when).bind(4, change);
        s.step();
    }
    t.commit();
}

namespace {

const char* const kDeviceQuery =
    "SELECT d.number, d.password, d.label, d.last_seen, d.address, d.firmware, d.conflict,"
    " coalesce((SELECT c.numbers FROM snapshots s JOIN contents c ON c.id = s.content"
    "           WHERE s.device = d.number ORDER BY s.taken DESC, s.id DESC LIMIT 1), 0),"
    " (SELECT count(*) FROM jobs j WHERE j.device = d.number"
    "  AND j.state IN ('pending', 'running', 'retry'))"
    " FROM devices d ";

Device deviceFrom(const Statement& s) {
    Device d;
    d.number = static_cast<unsigned>(s.integer(0));
    if (!s.isNull(1)) {
        d.password = static_cast<std::uint16_t>(s.integer(1));
    }
    d.label = s.text(2);
    d.lastSeen = s.integer(3);
    d.address = s.text(4);
    d.firmwareVersion = s.text(5);
    d.conflict = s.integer(6) != 0;
    d.numbers = static_cast<int>(s.integer(7));
    d.pending = static_cast<int>(s.integer(8));
    return d;
}

} // namespace

std::vector<Device> FleetRegister::devices() {
    Statement s(db_, (std::string(kDeviceQuery) + "ORDER BY d.number").c_str());
    std::vector<Device> out;
    while (s.step()) {
        out.push_back(deviceFrom(s));
    }
    return out;
}

std::optional<Device> FleetRegister::device(unsigned number) {
    Statement s(db_, (std::string(kDeviceQuery) + "WHERE d.number = ?").c_str());
    s.bind(1, number);
    if (s.step()) {
        return deviceFrom(s);
    }
    return std::nullopt;
}

std::vector<NumberHolder> FleetRegister::find(const std::string& number) {
    std::vector<NumberHolder> out;
    Statement s(db_, "SELECT number FROM devices ORDER BY number");
    std::vector<unsigned> numbers;
    while (s.step()) {
        numbers.push_back(static_cast<unsigned>(s.integer(0)));
    }
    for (unsigned device : numbers) {
        const std::optional<Snapshot> snap = latestSnapshot(device);
        if (!snap) {
            continue;
        }
        for (std::size_t i = 0; i < snap->contents.rows.size(); ++i) {
            if (snap->contents.rows[i][0] == number) {
                out.push_back({device, static_cast<int>(i) + 1, snap->contents.rows[i][1]});
            }
        }
    }
    return out;
}

History FleetRegister::history(unsigned device) {
    History h;
    Statement s(db_, "SELECT id, taken, source, backup FROM snapshots WHERE device = ?"
                     " ORDER BY taken, id");
    s.bind(1, device);
    while (s.step()) {
        Snapshot snap;
        snap.id = s.integer(0);
        snap.device = device;
        snap.taken = s.integer(1);
        snap.source = s.text(2);
        snap.backupPath = s.text(3);
        h.snapshots.push_back(std::move(snap));
    }
    h.jobs = jobsWhere(db_, "WHERE device = ? ORDER BY id", device);
    Statement a(db_, "SELECT id, coalesce(job, 0), at, change FROM audit WHERE device = ?"
                     " ORDER BY at, id");
    a.bind(1, device);
    while (a.step()) {
        h.audit.push_back({a.integer(0), device, a.integer(1), a.integer(2), a.text(3)});
    }
    return h;
}

std::int64_t FleetRegister::externalChanges() {
    return pragmaInt(db_, "PRAGMA data_version");
}

} // namespace fleet
