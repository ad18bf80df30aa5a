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
            const DeviceContents contents = contentsRead();
            phase_ == Phase::Reading ? readComplete() : verifyEnded(contents);
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
        host_.fleetRegister().unknownDevice(peer_, host_.now());
        report(FleetEvent::Kind::Unknown, "Прибор с адреса " + peer_ +
                                              " не открылся ни одним паролем: записан как "
                                              "неизвестный, ему больше ничего не посылается");
        return;
    }
    const std::uint16_t password = candidates_.front();
    candidates_.erase(candidates_.begin());
    password_ = password;
    session_.readConfig(std::to_string(password));
}

void DeviceRunner::deviceOpened(const frames::ConfigBlockBytes& block) {
    const unsigned number = ConfigBlock::decode(block).deviceNumber;
    device_ = number;
    candidates_.clear();
    host_.fleetRegister().deviceSeen(number, address_, *password_, std::string(), host_.now());
    report(FleetEvent::Kind::Identified,
           tag() + ": открыт паролем, номер устройства " + std::to_string(number));
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
    std::string backupError;
    const std::string source = job_ ? "задание " + std::to_string(job_->id) : "serve";
    host_.fleetRegister().addSnapshot(*device_, contents, host_.now(), source, host_.backupFolder(),
                                      &backupError);
    int numbers = 0;
    for (const auto& row : contents.rows) {
        numbers += row[0].empty() ? 0 : 1;
    }
    report(FleetEvent::Kind::Snapshot,
           tag() + ": считано, номеров " + std::to_string(numbers) +
               (backupError.empty() ? std::string()
                                    : "; резервная копия не сохранена: " + backupError));
    fresh_ = contents;
    readComplete_ = false;
    if (job_) {
        planAndWrite(contents);
        return;
    }
    phase_ = conflict_ ? Phase::Conflict : Phase::Idle;
    lookForJob();
}

void DeviceRunner::lookForJob() {
    if (phase_ != Phase::Idle || conflict_ || !device_) {
        return;
    }
    const std::optional<Job> next = host_.fleetRegister().nextJob(*device_);
    if (!next || std::find(triedHere_.begin(), triedHere_.end(), next->id) != triedHere_.end()) {
        return; // a job that failed here waits for the device's next connection
    }
    startJob(*next);
}

void DeviceRunner::startJob(const Job& job) {
    if (!host_.fleetRegister().jobStarted(job.id, host_.now())) {
        return; // cancelled meanwhile
    }
    job_ = job;
    job_->tries += 1;
    report(FleetEvent::Kind::JobStarted, tag() + ": задание " + std::to_string(job.id) + " (" +
                                             kindName(job.request.kind) + "), попытка " +
                                             std::to_string(job_->tries));
    if (fresh_) {
        planAndWrite(*fresh_);
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

void DeviceRunner::planAndWrite(const DeviceContents& current) {
    const Plan plan = planJob(job_->request, current);
    switch (plan.outcome) {
    case Plan::Outcome::Nothing:
        host_.fleetRegister().jobDone(job_->id, host_.now(), plan.reason);
        report(FleetEvent::Kind::JobDone, tag() + ": задание " + std::to_string(job_->id) +
                                              " выполнено без записи: " + plan.reason);
        finishJob();
        return;
    case Plan::Outcome::Refused:
        host_.fleetRegister().jobRefused(job_->id, plan.reason, host_.now());
        report(FleetEvent::Kind::JobFailed,
               tag() + ": задание " + std::to_string(job_->id) + " не выполнено: " + plan.reason);
        finishJob();
        return;
    case Plan::Outcome::Write:
        break;
    }
    target_ = plan.target;
    changes_ = plan.changes;
    fresh_.reset(); // the device is about to change
    config_file::fillGrid(*target_, grid_);
    phase_ = Phase::Writing;
    written_ = wrongPassword_ = noAnswer_ = false;
    writeRefused_.reset();
    const frames::ConfigBlockBytes block = target_->block;
    session_.writeConfig(std::to_string(*password_),
                         [block]() -> std::optional<frames::ConfigBlockBytes> { return block; });
}

void DeviceRunner::writeEnded() {
    // The device took the configuration and every batch: that is a change
    // written, whatever the read back finds.
    host_.fleetRegister().audit(*device_, job_->id, changes_, host_.now());
    phase_ = Phase::Verifying;
    startRead();
}

void DeviceRunner::verifyEnded(const DeviceContents& readBack) {
    std::string backupError;
    host_.fleetRegister().addSnapshot(*device_, readBack, host_.now(),
                                      "задание " + std::to_string(job_->id) +
                                          ", контрольное чтение",
                                      host_.backupFolder(), &backupError);
    fresh_ = readBack;
    readComplete_ = false;
    const std::vector<std::string> differences = compareReadBack(*target_, readBack);
    if (!differences.empty()) {
        jobFailed("контрольное чтение не совпало: " + joined(differences));
        return;
    }
    host_.fleetRegister().jobDone(job_->id, host_.now());
    report(FleetEvent::Kind::JobDone,
           tag() + ": задание " + std::to_string(job_->id) + " выполнено: записано и проверено");
    finishJob();
}

void DeviceRunner::jobFailed(const std::string& why) {
    const JobState state = host_.fleetRegister().jobFailed(job_->id, why, host_.now());
    const bool again = state == JobState::Retry;
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
        target_.reset();
        phase_ = Phase::Silent;
        host_.hangUp(connection_);
        return;
    }
    finishJob();
}

void DeviceRunner::finishJob() {
    job_.reset();
    target_.reset();
    changes_.clear();
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
        jobFailed("связь с прибором прервана (" + why + ")");
    }
}

} // namespace fleet
