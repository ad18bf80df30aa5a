#include "fleet/device_runner.h"

#include "config/config_block.h"
#include "files/config_file.h"
#include "session/event_text.h"

#include <algorithm>

namespace fleet {

namespace {

// The password the device leaves the factory with: tried last, when nothing
// else opened the device.
constexpr std::uint16_t kFactoryPassword = 1234;

// The Russian line the session's event names of itself: its box, else its log line.
std::string said(const SessionEvent& event) {
    const EventText text = eventText(event);
    if (text.box) {
        return *text.box;
    }
    return text.log.empty() ? std::string() : text.log.front();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += (out.empty() ? "" : "; ") + line;
    }
    return out;
}

} // namespace

const char* eventName(FleetEvent::Kind kind) {
    switch (kind) {
    case FleetEvent::Kind::Listening:
        return "listening";
    case FleetEvent::Kind::Refused:
        return "refused";
    case FleetEvent::Kind::Announced:
        return "announced";
    case FleetEvent::Kind::Identified:
        return "identified";
    case FleetEvent::Kind::Snapshot:
        return "snapshot";
    case FleetEvent::Kind::Unknown:
        return "unknown";
    case FleetEvent::Kind::Conflict:
        return "conflict";
    case FleetEvent::Kind::JobStarted:
        return "jobStarted";
    case FleetEvent::Kind::JobDone:
        return "jobDone";
    case FleetEvent::Kind::JobRetry:
        return "jobRetry";
    case FleetEvent::Kind::JobFailed:
        return "jobFailed";
    case FleetEvent::Kind::Disconnected:
        return "disconnected";
    case FleetEvent::Kind::Note:
        return "note";
    case FleetEvent::Kind::Error:
        return "error";
    case FleetEvent::Kind::Stopping:
        return "stopping";
    case FleetEvent::Kind::Stopped:
        return "stopped";
    }
    return "note";
}

DeviceRunner::DeviceRunner(RunnerHost& host, int connection, std::string address, std::string peer)
    : host_(host), connection_(connection), address_(std::move(address)), peer_(std::move(peer)),
      session_(nullptr, grid_, *this) {
    session_.choosePort("Интернет");
    session_.attachInternet({[this](const std::uint8_t* bytes, std::size_t count) {
                                 return host_.send(connection_, bytes, count);
                             },
                             [this] { host_.hangUp(connection_); }, [] { return true; },
                             [] { return true; }});
}

DeviceRunner::~DeviceRunner() = default;

bool DeviceRunner::busy() const {
    switch (phase_) {
    case Phase::Identifying:
    case Phase::Reading:
    case Phase::Writing:
    case Phase::Verifying:
        return true;
    default:
        return false;
    }
}

std::string DeviceRunner::tag() const {
    return device_ ? "прибор " + std::to_string(*device_) + " (" + peer_ + ")" : peer_;
}

void DeviceRunner::report(FleetEvent::Kind kind, std::string message) {
    FleetEvent e;
    e.kind = kind;
    e.address = peer_;
    e.device = device_.value_or(0);
    e.job = jobId();
    e.message = std::move(message);
    host_.report(std::move(e));
}

// --- what the session reports ------------------------------------------------

void DeviceRunner::event(const SessionEvent& event) {
    std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, events::WrongPassword>) {
                wrongPassword_ = true;
            } else if constexpr (std::is_same_v<E, events::ConfigRead>) {
                block_ = e.block;
            } else if constexpr (std::is_same_v<E, events::DeviceRead>) {
                block_ = e.block;
                readComplete_ = true;
            } else if constexpr (std::is_same_v<E, events::NumberReadCut>) {
                readCut_ = e.rows;
            } else if constexpr (std::is_same_v<E, events::ReplyTimedOut>) {
                noAnswer_ = true;
            } else if constexpr (std::is_same_v<E, events::ConfigWritten>) {
                configWritten_ = true;
            } else if constexpr (std::is_same_v<E, events::NumbersWritten>) {
                written_ = true;
            } else if constexpr (std::is_same_v<E, events::NumberWriteStopped> ||
                                 std::is_same_v<E, events::NumberRefused> ||
                                 std::is_same_v<E, events::ListNotWritable> ||
                                 std::is_same_v<E, events::CommandNotBuilt> ||
                                 std::is_same_v<E, events::CommandNotEncoded> ||
                                 std::is_same_v<E, events::Refused>) {
                writeRefused_ = said(event);
            } else if constexpr (std::is_same_v<E, events::DeviceSaid>) {
                if (e.kind == device_replies::ReplyKind::ListFull) {
                    writeRefused_ = said(event);
                }
            }
        },
        event);
}

// --- the steps ----------------------------------------------------------------

void DeviceRunner::received(const std::string& bytes) {
    session_.internetRead(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void DeviceRunner::advance() {
    switch (phase_) {
    case Phase::Announcing:
        if (session_.state().remoteConnected) {
            // The announcement itself is in the log already, in the link's words.
            // The order of the passwords tried: the one last used from this
            // address, those given to the server, those the register holds.
            FleetRegister& reg = host_.fleetRegister();
            auto add = [&](std::uint16_t password) {
                if (std::find(candidates_.begin(), candidates_.end(), password) ==
                    candidates_.end()) {
                    candidates_.push_back(password);
                }
            };
            if (const auto last = reg.lastPasswordFrom(address_)) {
                add(*last);
            }
            for (const std::uint16_t password : host_.passwords()) {
                add(password);
            }
            for (const std::uint16_t password : reg.knownPasswords()) {
                add(password);
            }
            add(kFactoryPassword);
            phase_ = Phase::Identifying;
            tryNextPassword();
        }
        break;
    case Phase::Identifying:
        if (block_) {
            deviceOpened(*block_);
        } else if (wrongPassword_) {
            tryNextPassword();
        } else if (noAnswer_) {
            phase_ = Phase::Silent;
            report(FleetEvent::Kind::Disconnected,
                   "Прибор с адреса " + peer_ + " не ответил на \"CONFR\": соединение закрыто");
            host_.hangUp(connection_);
        }
        break;
    case Phase::Reading:
    case Phase::Verifying:
        if (readComplete_) {
            if (phase_ == Phase::Reading) {
                readComplete();
            } else {
                verifyEnded(contentsRead());
            }
        } else if (readCut_ || noAnswer_ ||
                   (block_ && !session_.numberReadPending() && !readComplete_)) {
            const std::string why =
                readCut_ ? "чтение номеров прервано: считано " + std::to_string(*readCut_)
                         : "прибор перестал отвечать";
            if (job_) {
                jobFailed((phase_ == Phase::Reading ? "чтение: " : "контрольное чтение: ") + why);
            } else {
                phase_ = Phase::Silent;
                report(FleetEvent::Kind::Disconnected, tag() + ": " + why + "; соединение закрыто");
                host_.hangUp(connection_);
            }
        }
        break;
    case Phase::Writing:
        if (configWritten_ && !audited_) {
            auditWrite();
        }
        if (written_) {
            writeEnded();
        } else if (wrongPassword_) {
            jobFailed("запись: " + said(events::WrongPassword{}));
        } else if (writeRefused_) {
            jobFailed("запись: " + *writeRefused_);
        } else if (noAnswer_) {
            jobFailed("запись: прибор перестал отвечать");
        }
        break;
    default:
        break;
    }
    superviseWait();
}

void DeviceRunner::superviseWait() {
    // A step that waits for the device with nothing counting ("ERASE" on the
    // Internet link is not supervised) would wait for ever: the device gets
    // the reply watchdog's 20 s for it.
    if (busy() && !session_.tickNeeded()) {
        session_.expectReply();
    }
}

void DeviceRunner::tryNextPassword() {
    block_.reset();
    wrongPassword_ = noAnswer_ = readComplete_ = false;
    readCut_.reset();
    if (candidates_.empty()) {
        phase_ = Phase::Unknown;
        // Remembered by its host, as the devices are: the port changes with
        // every connection.
        host_.write(0, [address = address_, when = host_.now()](FleetRegister& reg, auto&) {
            reg.unknownDevice(address, when);
        });
        report(FleetEvent::Kind::Unknown, "Прибор с адреса " + peer_ +
                                              " не открылся ни одним паролем: записан как "
                                              "неизвестный, ему больше ничего не посылается");
        return;
    }
    const std::uint16_t password = candidates_.front();
    candidates_.erase(candidates_.begin());
    ++tried_;
    password_ = password;
    session_.readConfig(std::to_string(password));
}

void DeviceRunner::deviceOpened(const frames::ConfigBlockBytes& block) {
    const unsigned number = ConfigBlock::decode(block).deviceNumber;
    device_ = number;
    candidates_.clear();
    host_.write(number, [number, address = address_, password = *password_,
                         when = host_.now()](FleetRegister& reg, auto&) {
        reg.deviceSeen(number, address, password, std::string(), when);
    });
    report(FleetEvent::Kind::Identified,
           tag() + ": пароль подошёл (проверено паролей: " + std::to_string(tried_) +
               "), номер устройства " + std::to_string(number));
    if (!host_.claim(*this, number)) {
        conflict_ = true;
    }
    // The session reads the number list after the block by itself.
    phase_ = Phase::Reading;
}

void DeviceRunner::enterConflict() {
    conflict_ = true;
    if (phase_ == Phase::Idle) {
        phase_ = Phase::Conflict;
    }
}

DeviceContents DeviceRunner::contentsRead() const {
    DeviceContents contents;
    contents.block = block_.value_or(frames::ConfigBlockBytes{});
    contents.rows.resize(NumberGrid::kRows);
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        contents.rows[static_cast<std::size_t>(row - 1)] = {
            grid_.cell(NumberGrid::kNumberColumn, row),
            grid_.cell(NumberGrid::kApartmentColumn, row)};
    }
    return contents;
}

void DeviceRunner::readComplete() {
    DeviceContents contents = contentsRead();
    const std::string source = job_ ? "задание " + std::to_string(job_->id) : "serve";
    int numbers = 0;
    for (const auto& row : contents.rows) {
        numbers += row[0].empty() ? 0 : 1;
    }
    keepSnapshot(contents, source);
    report(FleetEvent::Kind::Snapshot, tag() + ": считано, номеров " + std::to_string(numbers));
    fresh_ = true;
    readComplete_ = false;
    if (job_) {
        planAndWrite(contents);
        return;
    }
    phase_ = conflict_ ? Phase::Conflict : Phase::Idle;
    lookForJob();
}

void DeviceRunner::keepSnapshot(const DeviceContents& contents, const std::string& source) {
    // Waiting for its turn, a read is held as the .fcd it becomes (less than
    // half the memory of its rows): hundreds of them may wait at once.
    MemoryNumberGrid rows;
    config_file::fillGrid(contents, rows);
    config_file::Encoded file = config_file::encode(contents.block, rows);
    if (!file.ok()) {
        report(FleetEvent::Kind::Error, tag() + ": чтение не сохранить: " + *file.error);
        return;
    }
    host_.write(*device_, [device = *device_, file = std::move(file.bytes), when = host_.now(),
                           source, folder = host_.backupFolder()](
                              FleetRegister& reg, std::vector<std::string>& problems) {
        config_file::DecodeError error;
        const std::optional<DeviceContents> decoded = config_file::decode(file, &error);
        std::string backupError;
        if (decoded) {
            reg.addSnapshot(device, *decoded, when, source, folder, &backupError);
        }
        if (!backupError.empty()) {
            problems.push_back("Прибор " + std::to_string(device) +
                               ": резервная копия чтения не сохранена: " + backupError);
        }
    });
}

void DeviceRunner::lookForJob() {
    if (phase_ != Phase::Idle || conflict_ || !device_ || host_.stopping()) {
        return;
    }
    const std::optional<Job> next = host_.fleetRegister().nextJob(*device_);
    if (!next || std::find(triedHere_.begin(), triedHere_.end(), next->id) != triedHere_.end()) {
        return; // a job that failed here waits for the device's next connection
    }
    if (!host_.claimJob(next->id)) {
        return; // under way here already, or done while the register does not show it yet
    }
    startJob(*next);
}

void DeviceRunner::startJob(const Job& job) {
    host_.write(*device_, [id = job.id, when = host_.now()](FleetRegister& reg,
                                                            std::vector<std::string>& problems) {
        if (!reg.jobStarted(id, when)) {
            problems.push_back("Задание " + std::to_string(id) +
                               " отменено, когда уже выполнялось");
        }
    });
    job_ = job;
    job_->tries += 1;
    report(FleetEvent::Kind::JobStarted, tag() + ": задание " + std::to_string(job.id) + " (" +
                                             kindName(job.request.kind) + "), попытка " +
                                             std::to_string(job_->tries));
    if (fresh_) {
        planAndWrite(contentsRead());
    } else {
        startRead();
    }
}

void DeviceRunner::startRead() {
    block_.reset();
    readCut_.reset();
    readComplete_ = wrongPassword_ = noAnswer_ = false;
    if (phase_ != Phase::Verifying) {
        phase_ = Phase::Reading;
    }
    session_.readConfig(std::to_string(*password_));
}

namespace {

// A device's contents as the .fcd they make, for keeping them while a job
// runs: less than half the memory of their rows, and hundreds of jobs run
// at once.
std::string asFile(const DeviceContents& contents) {
    MemoryNumberGrid rows;
    config_file::fillGrid(contents, rows);
    config_file::Encoded file = config_file::encode(contents.block, rows);
    return file.ok() ? std::move(file.bytes) : std::string();
}

std::optional<DeviceContents> fromFile(const std::string& file) {
    config_file::DecodeError error;
    return config_file::decode(file, &error);
}

} // namespace

void DeviceRunner::planAndWrite(const DeviceContents& current) {
    Plan plan = planJob(job_->request, current);
    switch (plan.outcome) {
    case Plan::Outcome::Nothing:
        host_.write(*device_, [id = job_->id, when = host_.now(), note = plan.reason](
                                  FleetRegister& reg, auto&) { reg.jobDone(id, when, note); });
        report(FleetEvent::Kind::JobDone, tag() + ": задание " + std::to_string(job_->id) +
                                              " выполнено без записи: " + plan.reason);
        finishJob();
        return;
    case Plan::Outcome::Refused:
        host_.write(*device_, [id = job_->id, when = host_.now(), why = plan.reason](
                                  FleetRegister& reg, auto&) { reg.jobRefused(id, why, when); });
        report(FleetEvent::Kind::JobFailed,
               tag() + ": задание " + std::to_string(job_->id) + " не выполнено: " + plan.reason);
        finishJob();
        return;
    case Plan::Outcome::Write:
        break;
    }
    // The changes (a line per number) are worked out again for the audit
    // log when the write is through, from the job and what the device held.
    plan.changes.clear();
    before_ = asFile(current);
    target_ = asFile(plan.target);
    fresh_ = false; // the device is about to change
    config_file::fillGrid(plan.target, grid_);
    phase_ = Phase::Writing;
    written_ = configWritten_ = audited_ = wrongPassword_ = noAnswer_ = false;
    writeRefused_.reset();
    const frames::ConfigBlockBytes block = plan.target.block;
    session_.writeConfig(std::to_string(*password_),
                         [block]() -> std::optional<frames::ConfigBlockBytes> { return block; });
}

void DeviceRunner::auditWrite() {
    // The device took the configuration: from here on it changes, whether
    // the numbers that follow all come through or the link drops half-way
    // (the next try then audits what it writes on top of what the device
    // holds by then).
    host_.write(*device_,
                [device = *device_, id = job_->id, request = std::move(job_->request),
                 before = std::move(before_), when = host_.now()](FleetRegister& reg, auto&) {
                    if (const std::optional<DeviceContents> held = fromFile(before)) {
                        reg.audit(device, id, planJob(request, *held).changes, when);
                    }
                });
    job_->request = JobRequest{}; // the file is not needed any more
    audited_ = true;
}

void DeviceRunner::writeEnded() {
    phase_ = Phase::Verifying;
    startRead();
}

void DeviceRunner::verifyEnded(DeviceContents readBack) {
    const std::optional<DeviceContents> target = fromFile(target_);
    target_ = std::string();
    const std::vector<std::string> differences =
        target ? compareReadBack(*target, readBack)
               : std::vector<std::string>{"цель задания не восстановить"};
    keepSnapshot(readBack, "задание " + std::to_string(job_->id) + ", контрольное чтение");
    fresh_ = true;
    readComplete_ = false;
    if (!differences.empty()) {
        jobFailed("контрольное чтение не совпало: " + joined(differences));
        return;
    }
    host_.write(*device_, [id = job_->id, when = host_.now()](FleetRegister& reg, auto&) {
        reg.jobDone(id, when);
    });
    report(FleetEvent::Kind::JobDone,
           tag() + ": задание " + std::to_string(job_->id) + " выполнено: записано и проверено");
    finishJob();
}

void DeviceRunner::jobFailed(const std::string& why) {
    // The register puts the job back to retry until its last try.
    host_.write(*device_, [id = job_->id, why, when = host_.now()](FleetRegister& reg, auto&) {
        reg.jobFailed(id, why, when);
    });
    const bool again = job_->tries < kMaxTries;
    if (again) {
        host_.releaseJob(job_->id);
    }
    report(again ? FleetEvent::Kind::JobRetry : FleetEvent::Kind::JobFailed,
           tag() + ": задание " + std::to_string(job_->id) + ", попытка " +
               std::to_string(job_->tries) + ": " + why +
               (again ? "; повтор при следующем подключении" : "; попыток больше не будет"));
    triedHere_.push_back(job_->id);
    const bool lostTouch = noAnswer_ || phase_ == Phase::Writing;
    if (again && lostTouch && phase_ != Phase::Silent) {
        // What the device holds now is not known: a new connection starts
        // the job over from its first read.
        job_.reset();
        target_ = std::string();
        before_ = std::string();
        phase_ = Phase::Silent;
        host_.hangUp(connection_);
        return;
    }
    finishJob();
}

void DeviceRunner::finishJob() {
    job_.reset();
    target_ = std::string();
    before_ = std::string();
    if (phase_ == Phase::Silent) {
        return;
    }
    phase_ = conflict_ ? Phase::Conflict : Phase::Idle;
    // The next job of the device follows at once.
    lookForJob();
}

void DeviceRunner::connectionLost(const std::string& why) {
    phase_ = Phase::Silent;
    if (job_) {
        jobFailed("связь с прибором прервана: " + why);
    }
}

} // namespace fleet
