#include "cli/device_job.h"

#include "cli/cli_common.h"
#include "config/config_block.h"
#include "files/backups.h"
#include "fleet/job_plan.h"
#include "session/event_text.h"

#include <charconv>

namespace cli {

namespace {

using namespace std::chrono_literals;

// What a failure names of an event: its box, else its log line.
std::string said(const SessionEvent& event) {
    const EventText text = eventText(event);
    if (text.box) {
        return *text.box;
    }
    return text.log.empty() ? std::string() : text.log.front();
}

} // namespace

std::string portFailure(const std::string& port, const comm::OpenResult& open) {
    comm::OpenFailureText text = comm::describeOpenFailure(open, port);
    return text.log.empty() ? std::move(text.status) : std::move(text.log);
}

DeviceJob::DeviceJob(EventLoop& loop, JobRequest request)
    : loop_(loop), request_(std::move(request)), session_(&loop, grid_, *this) {
    loop_.add(session_);
}

DeviceJob::~DeviceJob() {
    loop_.remove(session_);
}

void DeviceJob::start() {
    session_.setFastExchange(request_.fast);
    session_.choosePort(request_.port);
    allow(5s);
    // The window's 1 s timer would open the port and greet the device on its
    // next two ticks; the tool does not wait for them.
    session_.tick1s();
    if (session_.state().portReady) {
        session_.tick1s();
    }
}

int DeviceJob::progress() {
    switch (phase_) {
    case Phase::Reading:
    case Phase::Verifying:
        shown_ = session_.numbersRead();
        break;
    case Phase::Writing:
        shown_ = session_.numbersConfirmed();
        break;
    case Phase::Programming:
        shown_ = static_cast<int>(session_.firmwareBlocksSent());
        break;
    case Phase::Done:
        // A job that failed stays where it stopped.
        if (result_.code == kSuccess) {
            shown_ = request_.kind == JobRequest::Kind::Flash
                         ? static_cast<int>(request_.imageBlocks)
                         : NumberGrid::kRows;
        }
        break;
    default:
        break;
    }
    return shown_;
}

// --- what the session reports ------------------------------------------------

void DeviceJob::event(const SessionEvent& event) {
    std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, events::Linked>) {
                linked_ = e;
            } else if constexpr (std::is_same_v<E, events::BootloaderReady>) {
                bootloaderReady_ = true;
            } else if constexpr (std::is_same_v<E, events::WrongPassword>) {
                wrongPassword_ = true;
            } else if constexpr (std::is_same_v<E, events::ReplyTimedOut> ||
                                 std::is_same_v<E, events::BootloaderSilent>) {
                noAnswer_ = true;
                lastMessage_ = said(event);
            } else if constexpr (std::is_same_v<E, events::PortLost>) {
                noAnswer_ = portGone_ = true;
                lastMessage_ = said(event);
            } else if constexpr (std::is_same_v<E, events::PortFailed>) {
                // A port error ended the operation: the port failed under the job.
                noAnswer_ = portGone_ = true;
                lastMessage_ = e.what;
            } else if constexpr (std::is_same_v<E, events::NumbersWritten>) {
                numbersWritten_ = true;
                result_.cellsWritten = session_.numbersConfirmed();
            } else if constexpr (std::is_same_v<E, events::ChangesWritten>) {
                result_.cellsWritten = e.cells;
            } else if constexpr (std::is_same_v<E, events::NumberWriteStopped> ||
                                 std::is_same_v<E, events::NumberRefused>) {
                writeRefused_ = said(event);
                if (const auto box = eventText(event).box) {
                    lastMessage_ = *box;
                }
            } else if constexpr (std::is_same_v<E, events::DeviceSaid>) {
                if (e.kind == device_replies::ReplyKind::ListFull) {
                    writeRefused_ = said(event);
                }
            } else if constexpr (std::is_same_v<E, events::ConfigRead>) {
                block_ = e.block;
            } else if constexpr (std::is_same_v<E, events::DeviceRead>) {
                block_ = e.block;
                readComplete_ = true;
            } else if constexpr (std::is_same_v<E, events::NumberReadCut>) {
                readCutRows_ = e.rows;
            } else if constexpr (std::is_same_v<E, events::FirmwareDone>) {
                programmed_ = true;
            } else if constexpr (std::is_same_v<E, events::BackupFailed>) {
                backupFailed_ = e.reason;
            } else if (const auto box = eventText(event).box) {
                lastMessage_ = *box;
            }
        },
        event);
}

// --- the steps ----------------------------------------------------------------

void DeviceJob::advance() {
    step();
    superviseWait();
}

void DeviceJob::step() {
    if (finished()) {
        return;
    }
    const LinkState& st = session_.state();
    switch (phase_) {
    case Phase::Linking:
        if (st.linkUp && linked_) {
            linked();
        } else if (!st.portReady && !session_.portTickNeeded()) {
            result_.portError = comm::openErrorName(session_.lastOpen().error);
            finish(kPortError, portFailure(request_.port, session_.lastOpen()));
        } else if (portGone_) {
            finish(kPortError, lastMessage_);
        } else if (noAnswer_ || timedOut()) {
            finish(kDiffers,
                   "Прибор на порту " + quoted(request_.port) + " не отвечает на приветствие");
        }
        return;
    case Phase::Reading:
    case Phase::Verifying: {
        const std::string step = phase_ == Phase::Reading ? "чтение" : "контрольное чтение";
        if (wrongPassword_) {
            finish(kDiffers, said(events::WrongPassword{}));
        } else if (readComplete_) {
            readEnded();
        } else if (readCutRows_) {
            failStep(step, stopped("прибор перестал отвечать") +
                               "; чтение номеров прервано: считано " +
                               std::to_string(*readCutRows_) + " номеров");
        } else if (block_ && !session_.numberReadPending()) {
            failStep(step, "список номеров считан не полностью");
        } else if (noAnswer_ || timedOut()) {
            failStep(step, stopped("прибор перестал отвечать"));
        }
        return;
    }
    case Phase::Writing:
        if (wrongPassword_) {
            finish(kDiffers, said(events::WrongPassword{}) + whereBackupIs());
        } else if (numbersWritten_) {
            phase_ = Phase::Verifying;
            startRead(request_.password);
        } else if (writeRefused_) {
            failStep("запись", *writeRefused_);
        } else if (noAnswer_ || timedOut()) {
            failStep("запись", stopped("прибор перестал отвечать"));
        }
        return;
    case Phase::Restarting:
        if (bootloaderReady_ && session_.phase().bootloaderReady) {
            session_.openFirmware(request_.imagePath);
            if (!session_.holdsFirmwareImage()) {
                failStep("прошивка",
                         lastMessage_.empty() ? "файл прошивки не принят" : lastMessage_);
                return;
            }
            phase_ = Phase::Programming;
            allow(300s);
            session_.programFirmware();
        } else if (timedOut()) {
            failStep("перезагрузка в загрузчик", "загрузчик не ответил");
        }
        return;
    case Phase::Programming:
        if (programmed_) {
            finish(kSuccess,
                   "Программирование завершено: блоков " + std::to_string(request_.imageBlocks));
        } else if (noAnswer_ || timedOut()) {
            failStep("прошивка", stopped("загрузчик перестал отвечать"));
        }
        return;
    case Phase::Done:
        return;
    }
}

void DeviceJob::superviseWait() {
    // A step of a read or write that waits for the device with nothing
    // counting (a command whose reply stops no watchdog, like "RT+EFA"'s)
    // would wait for ever: the device gets the reply watchdog's 20 s for it.
    // The firmware steps have the bootloader's own watchdog and the job's
    // deadline, which the event loop wakes up for.
    const bool replyStep =
        phase_ == Phase::Reading || phase_ == Phase::Verifying || phase_ == Phase::Writing;
    if (replyStep && !session_.tickNeeded() && !session_.portTickNeeded()) {
        session_.expectReply();
    }
}

void DeviceJob::linked() {
    result_.deviceName = linked_->deviceName;
    result_.firmwareVersion = linked_->firmwareVersion;
    switch (request_.kind) {
    case JobRequest::Kind::Info:
        finish(kSuccess, "Прибор " + result_.deviceName +
                             ", версия ПО: " + std::to_string(result_.firmwareVersion));
        return;
    case JobRequest::Kind::Read:
    case JobRequest::Kind::Write:
    case JobRequest::Kind::Diff:
        phase_ = Phase::Reading;
        startRead(request_.password);
        return;
    case JobRequest::Kind::Flash:
        phase_ = Phase::Restarting;
        allow(15s);
        session_.enterBootloader();
        session_.restartDevice();
        return;
    }
}

void DeviceJob::startRead(const std::string& password) {
    block_.reset();
    readCutRows_.reset();
    readComplete_ = wrongPassword_ = noAnswer_ = false;
    allow(120s);
    session_.readConfig(password);
}

void DeviceJob::readEnded() {
    config_file::Decoded read;
    read.block = *block_;
    read.rows.resize(NumberGrid::kRows);
    int numbers = 0;
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        read.rows[static_cast<std::size_t>(row - 1)] = {
            grid_.cell(NumberGrid::kNumberColumn, row),
            grid_.cell(NumberGrid::kApartmentColumn, row)};
        numbers += grid_.cell(NumberGrid::kNumberColumn, row).empty() ? 0 : 1;
    }
    result_.numbers = numbers;
    result_.read = read;
    if (phase_ == Phase::Verifying) {
        config_file::Decoded expected = fleet::asStored(*request_.file);
        expected.block = writtenBlock();
        const config_diff::Result d = config_diff::compare(expected, read);
        if (d.equal()) {
            std::string cells =
                request_.full ? " (записано ячеек: " + std::to_string(result_.cellsWritten) + ")"
                : !changedCells_
                    ? " (изменено ячеек: " + std::to_string(result_.cellsWritten) + ")"
                    : " (изменено ячеек: " + std::to_string(*changedCells_) +
                          "; контрольное чтение не совпало с файлом, список записан целиком: "
                          "ячеек " +
                          std::to_string(result_.cellsWritten) + ")";
            if (changedCells_) {
                result_.cellsWritten += *changedCells_;
            }
            finish(kSuccess, "Записано и проверено: конфигурация и номеров " +
                                 std::to_string(numbers) + cells);
        } else if (!request_.full && !changedCells_) {
            // The device's read shows no free cells: one the owner freed by
            // SMS in the middle of the list makes every later cell other than
            // the read said, and the write of the changes left them wrong.
            // The whole list leaves the device as the file has it.
            changedCells_ = result_.cellsWritten;
            startWrite(true);
        } else {
            result_.diff = d;
            finish(kDiffers,
                   "Контрольное чтение не совпало с файлом: настроек " +
                       std::to_string(d.settings.size()) + ", номеров " +
                       std::to_string(d.added.size() + d.removed.size() + d.moved.size()) +
                       whereBackupIs());
        }
        return;
    }
    // Every complete read is kept.
    backupFailed_.reset();
    if (const auto path = session_.keepBackup(backups::folder())) {
        result_.backup = *path;
    } else {
        finish(kDiffers, "Резервная копия не сохранена: " + backupFailed_.value_or(std::string()));
        return;
    }
    switch (request_.kind) {
    case JobRequest::Kind::Read:
        finish(kSuccess, "Считано: конфигурация и номеров " + std::to_string(numbers));
        return;
    case JobRequest::Kind::Diff: {
        // The file as the device would hold it once written.
        config_file::Decoded expected = fleet::asStored(*request_.file);
        expected.block = writtenBlock();
        const config_diff::Result d = config_diff::compare(read, expected);
        result_.diff = d;
        finish(d.equal() ? kSuccess : kDiffers, d.equal() ? "Различий нет" : "Есть различия");
        return;
    }
    case JobRequest::Kind::Write:
        // The writer sends the list the session holds, as the window's grid
        // holds the opened file.
        config_file::fillGrid(*request_.file, grid_);
        if (const std::optional<std::string> problem = listWriteProblem(grid_)) {
            failStep("запись", *problem + "; в прибор ничего не записано");
            return;
        }
        startWrite(request_.full);
        return;
    default:
        return;
    }
}

void DeviceJob::startWrite(bool full) {
    // A read back left the device's list in the grid: the file's goes.
    config_file::fillGrid(*request_.file, grid_);
    phase_ = Phase::Writing;
    numbersWritten_ = false;
    result_.cellsWritten = -1;
    writeRefused_.reset();
    allow(300s);
    // By default only the cells that differ from the device's list go; the
    // session reads that list for this write, after the configuration.
    if (full) {
        session_.writeConfig(request_.password, [this] { return writtenBlock(); });
    } else {
        session_.writeChanges(request_.password, [this] { return writtenBlock(); });
    }
}

frames::ConfigBlockBytes DeviceJob::writtenBlock() const {
    // The device takes a block only with its own password in it, and a write
    // never changes the password: the window puts the "Пароль" box into the
    // block, the tool the password it was given.
    ConfigBlock block = ConfigBlock::decode(request_.file->block);
    block.password = static_cast<std::uint16_t>(std::stoul(request_.password));
    return block.encode();
}

void DeviceJob::failStep(const std::string& step, const std::string& why) {
    std::string text = "Прибор на порту " + quoted(request_.port) + ", шаг «" + step + "»: " + why;
    const auto holds = session_.writeUnderWay();
    if (holds) {
        session_.stopWrites();
        text += "; на приборе сейчас: " + *holds;
    } else if (phase_ == Phase::Writing) {
        text += "; прибор мог принять конфигурацию и часть номеров";
    }
    // A port that went away is a port error; anything else, the device's.
    finish(portGone_ ? kPortError : kDiffers, text + whereBackupIs());
}

std::string DeviceJob::stopped(const std::string& otherwise) const {
    return noAnswer_ && !lastMessage_.empty() ? lastMessage_ : otherwise;
}

std::string DeviceJob::whereBackupIs() const {
    return result_.backup.empty() ? std::string() : "; резервная копия: " + result_.backup;
}

void DeviceJob::finish(int code, std::string message) {
    result_.code = code;
    result_.message = std::move(message);
    phase_ = Phase::Done;
    session_.sayGoodbye();
    session_.closePort();
    loop_.remove(session_);
}

} // namespace cli
