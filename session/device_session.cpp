#include "session/device_session.h"

#include "config/config_block.h"
#include "files/backups.h"
#include "files/config_file.h"
#include "session/number_changes.h"
#include "session/number_list.h"

#include <chrono>

#include <utility>

namespace {

// The password the device leaves the factory with, as the window shows it
// until the user types another.
const char* const kFactoryPassword = "1234";

// The highest index of the baud-rate list (256000).
constexpr int kHighestBaudIndex = br256000;

} // namespace

DeviceSession::DeviceSession(comm::TMainThreadDispatcher* dispatcher, NumberGrid& grid,
                             SessionObserver& observer)
    : observer_(observer), grid_(grid), port_(makePort(dispatcher)),
      readPassword_(kFactoryPassword) {
    // The serial port as the window description has it.
    port_.SetDeviceName("Com1");
    port_.SetReadBufSize(1024);
    port_.SetWriteBufSize(1024);
    port_.SetMonitorEvents(TCommEventTypes{evRxChar, evRxFlag, evTxEmpty});
    port_.SetBaudRate(br115200);
    // With the fast exchange a receive event may run the analysis itself, so
    // it is run as any operation is.
    port_.setReceivedHandler([this](std::uint32_t count) {
        run([&] {
            link_.bytesArrived(count);
            analyseChunks();
        });
    });
    port_.setLostHandler([this] {
        run([this] {
            if (link_.portLost()) {
                portWentAway();
            }
        });
    });

    // Writes that closing the program would cut, and how each is stopped.
    // Closing mid-way leaves the device in its bootloader with part of the image.
    deviceWrites_.add({[this] { return firmware_.deviceHolds(); },
                       [this] { firmware_.interrupt(events::FirmwareStop::ProgramClosed); }});
    deviceWrites_.add({[this]() -> std::optional<std::string> {
                           if (!protocol_.configWritePending || link_.state.replyTimer == 0) {
                               return std::nullopt;
                           }
                           return std::string("конфигурация отправлена, прибор ее не подтвердил; "
                                              "номера не записывались");
                       },
                       [this] { protocol_.configWritePending = false; }});
    deviceWrites_.add({[this] { return writer_.deviceHolds(); }, [this] { writer_.stop(); }});
    // A write of the changed cells between the device's "CONFW" and its whole list.
    deviceWrites_.add({[this]() -> std::optional<std::string> {
                           if (changes_ == Changes::Checking) {
                               return std::string("изменения записаны, идет контрольное чтение "
                                                  "списка прибора");
                           }
                           if (changes_ != Changes::Reading) {
                               return std::nullopt;
                           }
                           return std::string("конфигурация записана, список прибора читается; "
                                              "номера не записывались");
                       },
                       [this] {
                           if (changes_ == Changes::Reading || changes_ == Changes::Checking) {
                               heldListCut();
                           }
                           changes_ = Changes::None;
                       }});
}

TComm DeviceSession::makePort(comm::TMainThreadDispatcher* dispatcher) {
    if (dispatcher == nullptr) {
        return TComm();
    }
    return TComm(*dispatcher);
}

DeviceSession::~DeviceSession() {
    // The port's event thread must be gone before the parts it calls are.
    port_.Close();
}

// --- the link ---------------------------------------------------------------

void DeviceSession::choosePort(const std::string& name) {
    run([&] { link_.choosePort(name); });
}

void DeviceSession::setBaudIndex(int index) {
    run([&] {
        if (index < 0) {
            return;
        }
        link_.state.baudIndex = static_cast<std::uint8_t>(index & 0xFF);
        port_.SetBaudRate(static_cast<TBaudRate>(link_.state.baudIndex));
    });
}

void DeviceSession::connect(const std::string& deviceNumber, const std::string& serverPortText) {
    run([&] { link_.connect(deviceNumber, serverPortText); });
}

void DeviceSession::disconnect() {
    run([&] { link_.disconnect(); });
}

void DeviceSession::goOffline() {
    run([&] { link_.goOffline(); });
}

void DeviceSession::setDiagnostics(bool on) {
    link_.setDiagnostics(on);
}

void DeviceSession::sendDiagnostic(const std::string& command) {
    run([&] { link_.sendDiagnostic(command); });
}

void DeviceSession::enterBootloader() {
    run([this] { link_.enterBootloader(); });
}

void DeviceSession::leaveBootloader() {
    run([this] {
        firmware_.interrupt(events::FirmwareStop::PageLeft);
        link_.leaveBootloader();
    });
}

void DeviceSession::setFastExchange(bool on) {
    link_.setFastExchange(on);
}

DeviceSession::LinkSettings DeviceSession::restoreSettings(const LinkSettings& stored) {
    LinkSettings taken = stored;
    link_.state.portName = stored.portName;
    const int baud = stored.baudIndex & 0xFF;
    taken.baudIndex = baud;
    if (baud > kHighestBaudIndex) {
        observer_.event(events::StoredBaudRefused{baud});
        taken.baudIndex = br115200;
    }
    link_.state.baudIndex = static_cast<std::uint8_t>(taken.baudIndex);
    port_.SetBaudRate(static_cast<TBaudRate>(taken.baudIndex));
    if (stored.serverPort < 0 || stored.serverPort > 65535) {
        // A server port holds five digits: a larger (or negative) stored
        // value would be shown cut and saved back wrong.
        observer_.event(events::StoredServerPortRefused{stored.serverPort});
        taken.serverPort = 2020;
    }
    link_.state.serverPort = static_cast<std::uint32_t>(taken.serverPort);
    link_.setFastExchange(stored.fastExchange);
    return taken;
}

// --- the device --------------------------------------------------------------

void DeviceSession::readConfig(const std::string& password) {
    readPassword_ = password;
    deviceRead_.reset();
    run([&] { commands_.readConfig(password); });
}

void DeviceSession::writeConfig(
    const std::string& password,
    const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock) {
    changes_ = Changes::None;
    changesPlanned_ = false;
    fullPlanned_ = false;
    run([&] { sendConfig(password, buildBlock); });
}

void DeviceSession::writeChanges(
    const std::string& password,
    const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock, bool check) {
    changes_ = Changes::None;
    changesPlanned_ = false;
    fullPlanned_ = false;
    checkChanges_ = check;
    run([&] {
        if (link_.state.remoteConnected && !link_.state.directDevice) {
            observer_.event(events::Refused{events::Refusal::ChangesSerialOnly});
            return;
        }
        protocol_.configWritePending = false;
        sendConfig(password, buildBlock);
        if (protocol_.configWritePending) {
            changes_ = Changes::ConfigSent;
        }
    });
}

void DeviceSession::sendConfig(
    const std::string& password,
    const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock) {
    readPassword_ = password;
    commands_.writeConfig(password, [&]() -> std::optional<frames::ConfigBlockBytes> {
        // The device's "CONFW" starts the number writer at once: a row it
        // could not send must stop the write before anything goes out.
        if (const std::optional<std::string> problem = listWriteProblem(grid_)) {
            observer_.event(events::ListNotWritable{*problem});
            return std::nullopt;
        }
        return buildBlock ? buildBlock() : std::nullopt;
    });
}

void DeviceSession::readHeldList(Changes phase) {
    changes_ = phase;
    listCompleteBefore_ = protocol_.numberListComplete;
    replies_.setNumberGrid(&heldGrid_);
    heldTransfer_.readNumbers(readPassword_);
    if (!protocol_.numberReadPending) {
        // "READ" did not go out; the transfer said why.
        heldListCut();
    }
}

void DeviceSession::heldListRead() {
    const bool checking = changes_ == Changes::Checking;
    changes_ = Changes::None;
    replies_.setNumberGrid(&grid_);
    protocol_.numberListComplete = listCompleteBefore_;
    if (checking) {
        if (number_changes::cellsOf(heldGrid_) == number_changes::cellsOf(grid_)) {
            observer_.event(events::ChangesWritten{writer_.state.confirmed});
        } else {
            observer_.event(events::ChangesNotHeld{});
            fullPlanned_ = true;
        }
        return;
    }
    // The cells go once the chunk that ended the list is acknowledged.
    changesPlanned_ = true;
}

void DeviceSession::writePlannedChanges() {
    if (std::exchange(fullPlanned_, false)) {
        writer_.step(device_replies::WriterStep::Start);
        return;
    }
    if (!std::exchange(changesPlanned_, false)) {
        return;
    }
    const number_changes::Plan plan =
        number_changes::plan(number_changes::cellsOf(heldGrid_), number_changes::cellsOf(grid_));
    writer_.startChanges(plan.send);
}

void DeviceSession::heldListCut() {
    const bool checking = changes_ == Changes::Checking;
    changes_ = Changes::None;
    // Packets of the cut read that still come go to heldGrid_, never into
    // the list the user edits; the next read of the list takes them back.
    protocol_.numberReadPending = false;
    protocol_.numberListComplete = listCompleteBefore_;
    using Reason = events::NumberWriteStopped::Reason;
    observer_.event(events::NumberWriteStopped{
        checking ? Reason::CheckNotRead : Reason::ListNotRead, {}, {}, writer_.state.confirmed});
}

void DeviceSession::expectReply() {
    run([this] { link_.startReplyWatchdog(); });
}

void DeviceSession::changePassword(const std::string& password, const std::string& newPassword) {
    run([&] { commands_.changePassword(password, newPassword); });
}

void DeviceSession::sendApn(const std::string& password, const std::string& apn) {
    run([&] { commands_.sendApn(password, apn); });
}

void DeviceSession::restartDevice() {
    run([&] { commands_.restartDevice(); });
}

void DeviceSession::readNumbers(const std::string& password) {
    readPassword_ = password;
    replies_.forgetConfigRead(); // the list alone is not the whole device
    deviceRead_.reset();
    run([&] { startNumberRead(password); });
}

void DeviceSession::startNumberRead(const std::string& password) {
    changes_ = Changes::None;
    changesPlanned_ = false;
    fullPlanned_ = false;
    replies_.setNumberGrid(&grid_);
    // A read starts with no refused packets, with a link or without.
    observer_.event(events::BadPackets{0});
    transfer_.readNumbers(password);
}

void DeviceSession::addNumber(const std::string& password, const std::string& number,
                              const std::string& apartment) {
    run([&] { transfer_.addNumber(password, number, apartment); });
}

void DeviceSession::deleteNumber(const std::string& password, const std::string& number) {
    run([&] { transfer_.deleteNumber(password, number); });
}

void DeviceSession::eraseNumbers(const std::string& password) {
    run([&] { transfer_.eraseNumbers(password); });
}

bool DeviceSession::numberListIncomplete() const {
    return link_.state.remoteConnected && transfer_.listIncomplete();
}

void DeviceSession::addReportedKey(const std::string& utf8) {
    if (number_list::addIfAbsent(grid_, utf8) == number_list::AddResult::Duplicate) {
        observer_.event(events::KeyListed{});
    }
}

std::optional<std::string> DeviceSession::keepBackup(const std::string& folder) {
    if (!deviceRead_) {
        return std::nullopt;
    }
    // Every complete read is kept, so that nothing a device held is lost
    // when it is overwritten.
    const auto file = config_file::encode(*deviceRead_, grid_);
    file_io::FileError failure;
    const auto path =
        file.ok() ? backups::save(file.bytes, ConfigBlock::decode(*deviceRead_).deviceNumber,
                                  std::chrono::system_clock::now(), folder, &failure)
                  : std::nullopt;
    if (path) {
        observer_.event(events::BackupKept{*path});
    } else {
        observer_.event(events::BackupFailed{file.ok() ? failure.reason : *file.error});
    }
    return path;
}

int DeviceSession::numbersRead() const {
    return std::max(0, protocol_.nextNumberRow - 1);
}

// --- the firmware --------------------------------------------------------------

void DeviceSession::openFirmware(const std::string& path) {
    run([&] { firmware_.openImage(path); });
}

void DeviceSession::programFirmware() {
    run([&] { firmware_.startProgramming(); });
}

// --- the Internet link -----------------------------------------------------------

void DeviceSession::attachInternet(InternetServer server) {
    internet_.server = std::move(server);
    link_.attachInternet(&internet_);
}

void DeviceSession::internetRead(const std::uint8_t* bytes, std::size_t count) {
    run([&] {
        replies_.takeInternetRead(bytes, count);
        actOnReplies();
    });
}

void DeviceSession::serialChunk(const std::uint8_t* bytes, std::size_t count) {
    run([&] { analyseSerial(replies_.takeSerial(bytes, count)); });
}

void DeviceSession::setDeferral(std::function<void(int ms, std::function<void()> call)> defer) {
    if (!defer) {
        internet_.defer = nullptr;
        return;
    }
    internet_.defer = [this, defer = std::move(defer)](int ms, std::function<void()> call) {
        defer(ms, [this, call = std::move(call)] { run(call); });
    };
}

// --- time ------------------------------------------------------------------------

void DeviceSession::tick20ms() {
    run([this] {
        if (link_.receiveTick()) {
            analyseChunks();
        }
        watchdogsFired(link_.watchdogTick());
        writer_.step(device_replies::WriterStep::Tick);
    });
}

void DeviceSession::tick1s() {
    run([this] { link_.tick1s(); });
}

// --- the end ---------------------------------------------------------------------

void DeviceSession::sayGoodbye() {
    if (link_.state.linkUp && link_.state.directDevice) {
        link_.sendText(frames::frameClose());
    }
}

// --- what the link reports --------------------------------------------------------

void DeviceSession::cutExchange() {
    // The transfer reports the cut itself.
    if (transfer_.readCut()) {
        replies_.forgetConfigRead();
        if (changes_ == Changes::Reading || changes_ == Changes::Checking) {
            heldListCut();
        }
    }
}

void DeviceSession::analyseChunks() {
    while (link_.beginChunk()) {
        try {
            const std::span<const std::uint8_t> chunk = replies_.takeSerial();
            if (!chunk.empty()) {
                analyseSerial(chunk);
            }
        } catch (...) {
            link_.endChunk(false);
            throw;
        }
        link_.endChunk(true);
        writePlannedChanges();
    }
}

void DeviceSession::watchdogsFired(const WatchdogsFired& fired) {
    if (fired.reply) {
        cutExchange();
    }
    if (fired.bootloader) {
        // The link has reset the page; the image is let go.
        firmware_.watchdogReset();
    }
}

void DeviceSession::portWentAway() {
    firmware_.interrupt(events::FirmwareStop::PortLost, link_.state.portName);
    cutExchange();
}

// --- what the replies ask --------------------------------------------------------

void DeviceSession::analyseSerial(std::span<const std::uint8_t> chunk) {
    if (link_.state.bootloaderMode) {
        firmware_.analyse(chunk.data(), chunk.size());
    }
    actOnReplies();
}

void DeviceSession::writerStep(device_replies::WriterStep step) {
    if (step == device_replies::WriterStep::Start && changes_ == Changes::ConfigSent) {
        // The device took the configuration: what it holds comes next.
        readHeldList(Changes::Reading);
        return;
    }
    if (step == device_replies::WriterStep::Start) {
        changes_ = Changes::None;
    }
    writer_.step(step);
}

void DeviceSession::actOnReplies() {
    while (const std::optional<ReplyRequest> request = replies_.next()) {
        if (std::holds_alternative<reply_requests::ReadNumbers>(*request)) {
            startNumberRead(readPassword_);
        } else if (const auto* writer = std::get_if<reply_requests::StepWriter>(&*request)) {
            writerStep(writer->step);
        } else if (std::holds_alternative<reply_requests::NumberListRead>(*request)) {
            if (changes_ == Changes::Reading || changes_ == Changes::Checking) {
                heldListRead();
            }
        } else if (std::holds_alternative<reply_requests::ResendBatch>(*request)) {
            writer_.resendLastBatch();
        } else if (const auto* key = std::get_if<reply_requests::AddKey>(&*request);
                   key != nullptr && numberListShown_) {
            addReportedKey(key->utf8);
        }
    }
}

void DeviceSession::event(const SessionEvent& event) {
    if (const auto* read = std::get_if<events::DeviceRead>(&event)) {
        // The backup keeps the last complete read.
        deviceRead_ = read->block;
    }
    if (const auto* written = std::get_if<events::NumbersWritten>(&event);
        written != nullptr && written->count < 0) {
        // The device's "+EFA:" ends the serial write: the count is the writer's.
        observer_.event(events::NumbersWritten{writer_.state.confirmed});
        if (writer_.state.changesOnly && checkChanges_) {
            readHeldList(Changes::Checking);
        } else if (writer_.state.changesOnly) {
            observer_.event(events::ChangesWritten{writer_.state.confirmed});
        }
        return;
    }
    observer_.event(event);
}

void DeviceSession::phaseChanged(const LinkPhase& phase) {
    observer_.phaseChanged(phase);
}

void DeviceSession::timersChanged() {
    observer_.timersChanged();
}

void DeviceSession::firmwarePageReset() {
    observer_.firmwarePageReset();
}
