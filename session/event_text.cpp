#include "session/event_text.h"

#include <type_traits>

namespace {

using namespace events;
using device_replies::ReplyKind;

const char* const kLostReply = "Потеряна связь (нет ответа)!";
const char* const kAwaitingBootloader = "Ожидается соединение с загрузчиком...";
const char* const kAbandoned = "Запись номеров прервана";

std::string searchingFor(const std::string& port) {
    return "Порт " + port + " отключен. Поиск...";
}

const char* startedText(Operation op) {
    switch (op) {
    case Operation::ConfigRead:
        return "Идет чтение конфигурации. Ждите...";
    case Operation::ConfigWrite:
        return "Идет запись конфигурации. Ждите...";
    case Operation::PasswordChange:
        return "Идет смена пароля. Ждите...";
    case Operation::ApnChange:
        return "Идет смена APN. Ждите...";
    case Operation::NumberRead:
        return "Идет чтение номеров. Ждите...";
    case Operation::NumberAdd:
        return "Идет добавление номера. Ждите...";
    case Operation::NumberDelete:
        return "Идет удаление номера. Ждите...";
    case Operation::NumberErase:
        return "Идет стирание номеров. Ждите...";
    case Operation::NumberWrite:
        return "Идет запись номеров. Ждите...";
    case Operation::Programming:
        return "Идет программирование. Ждите...";
    }
    return "";
}

// What an operation refused at its start is called.
const char* notStartedText(Operation op) {
    return op == Operation::ConfigWrite ? "Запись конфигурации не начата"
                                        : "Чтение конфигурации не начато";
}

const char* refusalText(Refusal why) {
    switch (why) {
    case Refusal::NoLink:
        return "Установите соединение";
    case Refusal::AlreadyLinked:
        return "Соединение уже установлено";
    case Refusal::Dialing:
        return "Соединение в процессе установки";
    case Refusal::NoDeviceNumber:
        return "Введите номер устройства";
    case Refusal::ApnSerialOnly:
        return "APN не изменен: смена APN возможна только при подключении устройства к COM-порту";
    case Refusal::NoServer:
        return "Команда не отправлена: сервер Интернет-соединения не создан";
    case Refusal::NoBatchToResend:
        return "Повтор пакета номеров не выполнен: пакет еще не отправлялся";
    case Refusal::ImageInUse:
        return "Идет программирование: файл прошивки сейчас не заменить";
    case Refusal::FirmwareNotOnline:
        return "Обновление ПО через Интернет невозможно: подключите устройство к "
               "последовательному порту";
    case Refusal::ChangesSerialOnly:
        return "Запись изменений через Интернет невозможна: пакеты номеров не указывают ячеек "
               "памяти. Используйте «Записать в устройство»";
    }
    return "";
}

// The log line of a reply, or null for one that logs nothing.
const char* replyText(ReplyKind kind) {
    switch (kind) {
    case ReplyKind::Greeting:
    case ReplyKind::Connected:
        return "Соединение установлено";
    case ReplyKind::ConnectionClosed:
        return "Соединение прервано";
    case ReplyKind::ReadDone:
        return "Чтение номеров завершено";
    case ReplyKind::Alarm:
        return "Сработал датчик охраны";
    case ReplyKind::NumberAdded:
        return "Номер добавлен";
    case ReplyKind::ListFull:
        return "Номер не добавлен. Нет свободного места";
    case ReplyKind::NumberDeleted:
        return "Номер удален";
    case ReplyKind::NumberNotFound:
        return "Номер не найден";
    case ReplyKind::ListErased:
        return "Номера удалены";
    case ReplyKind::WrongPassword:
        return "Пароль не верный";
    case ReplyKind::PasswordChanged:
        return "Пароль изменен";
    case ReplyKind::ApnChanged:
        return "APN сменен";
    case ReplyKind::OnTimeChanged:
        return "Время работы изменено";
    case ReplyKind::Disconnected:
        return "Устройство разъединено";
    case ReplyKind::NoGprs:
        return "GPRS сервис не доступен";
    case ReplyKind::CannotConnect:
        return "Устройству не удается установить соединение";
    case ReplyKind::Busy:
        return "Устройство занято";
    case ReplyKind::ConfigWritten:
        return "Конфигурация записана";
    case ReplyKind::ConfigRead:
        return "Конфигурация считана";
    case ReplyKind::NumbersWritten:
        return "Запись номеров завершена";
    case ReplyKind::NumberPacket:
    case ReplyKind::ResendBatch:
    case ReplyKind::NumberStepResult:
    case ReplyKind::KeyReported:
        break;
    }
    return nullptr;
}

EventText logs(std::string line) {
    EventText t;
    t.log.push_back(std::move(line));
    return t;
}

EventText logsAndBox(const std::string& line) {
    EventText t = logs(line);
    t.box = line;
    return t;
}

EventText panels(std::string port, std::string link) {
    EventText t;
    t.port = std::move(port);
    t.link = std::move(link);
    return t;
}

EventText linkPanel(std::string link) {
    EventText t;
    t.link = std::move(link);
    return t;
}

EventText textOf(const PortOpened& e) {
    return panels(e.port, "Порт " + e.port + " открыт");
}
EventText textOf(const PortNotOpened& e) {
    const comm::OpenFailureText f = comm::describeOpenFailure(e.open, e.port);
    EventText t = panels("NC", e.searching ? searchingFor(e.port) : f.status);
    if (e.newCause) {
        t.log.push_back(f.log);
    }
    return t;
}
EventText textOf(const PortLost& e) {
    EventText t = panels("NC", searchingFor(e.port));
    t.log.push_back("Потеряна связь с портом " + e.port + " (устройство отключено)");
    return t;
}
EventText textOf(const PortFailed& e) {
    EventText t;
    t.alarm = e.what;
    return t;
}
EventText textOf(const Linked& e) {
    // "Coe" is Latin, as the device's own greeting has it.
    EventText t = linkPanel("Coeдинение установлено: " + e.deviceName +
                            ", версия ПО: " + std::to_string(e.firmwareVersion));
    t.log.push_back(replyText(ReplyKind::Greeting));
    return t;
}
EventText textOf(const Searching&) {
    return linkPanel("Поиск...");
}
EventText textOf(const LinkShown& e) {
    return linkPanel(e.direct ? "Coeдинение установлено: " + e.deviceName
                              : std::string("Coeдинение установлено: модем"));
}
EventText textOf(const Offline&) {
    return panels("NC", "Автономный режим");
}
EventText textOf(const InternetChosen&) {
    return panels("NC", "Интернет");
}
EventText textOf(const InternetWaiting& e) {
    return panels("NC", e.deviceLinked ? "Интернет - Соединение установлено"
                                       : "Интернет - Ожидается соединение...");
}
EventText textOf(const ReplyTimedOut&) {
    return logs(kLostReply);
}
EventText textOf(const DiagnosticText& e) {
    return logs(e.text);
}
EventText textOf(const Refused& e) {
    return logs(refusalText(e.why));
}
EventText textOf(const BadServerPort& e) {
    EventText t;
    t.box = "Неверный порт сервера: \"" + e.typed + "\". Введите число от 1 до 65535";
    return t;
}
EventText textOf(const BadPassword& e) {
    return logsAndBox(std::string(notStartedText(e.op)) + ": неверный пароль \"" + e.typed +
                      "\". Пароль должен быть числом от 0 до 65535");
}
EventText textOf(const CommandNotEncoded& e) {
    return logs("Команда не отправлена: " + e.why);
}
EventText textOf(const CommandNotBuilt& e) {
    return logs(e.text);
}
EventText textOf(const CommandPartlySent& e) {
    return logs("Команда отправлена не полностью: передано " + std::to_string(e.sent) +
                " байт из " + std::to_string(e.of));
}
EventText textOf(const StoredBaudRefused& e) {
    return logs("Скорость порта из файла настроек (" + std::to_string(e.index) +
                ") не поддерживается, установлено 115200");
}
EventText textOf(const StoredServerPortRefused& e) {
    return logs("Порт сервера из файла настроек (" + std::to_string(e.port) +
                ") не может быть портом TCP, установлено 2020");
}
EventText textOf(const Started& e) {
    return logs(startedText(e.op));
}
EventText textOf(const DeviceSaid& e) {
    const char* line = replyText(e.kind);
    return line != nullptr ? logs(line) : EventText{};
}
EventText textOf(const WrongPassword&) {
    return logs(replyText(ReplyKind::WrongPassword));
}
EventText textOf(const PasswordChanged&) {
    return logs(replyText(ReplyKind::PasswordChanged));
}
EventText textOf(const ApnSent&) {
    return logs(replyText(ReplyKind::ApnChanged));
}
EventText textOf(const ConfigRead&) {
    return logs(replyText(ReplyKind::ConfigRead));
}
EventText textOf(const ConfigWritten&) {
    return logs(replyText(ReplyKind::ConfigWritten));
}
EventText textOf(const NumberListEnded&) {
    return logs(replyText(ReplyKind::ReadDone));
}
EventText textOf(const NumberReadCut& e) {
    return logs("Чтение номеров прервано: считано " + std::to_string(e.rows) + " номеров");
}
EventText textOf(const PacketTooLong& e) {
    return logs("Пакет номеров длиннее " + std::to_string(e.limit) + " байт пропущен");
}
EventText textOf(const NumbersOutsideList& e) {
    return logs("Номера за пределами списка (строки 1-" + std::to_string(e.rows) +
                ") не записаны: " + std::to_string(e.dropped));
}
EventText textOf(const KeyListed&) {
    EventText t;
    t.box = "Ключ с таким номером уже присутствует в списке";
    return t;
}
EventText textOf(const BackupKept& e) {
    return logs("Резервная копия прибора сохранена: " + e.path);
}
EventText textOf(const BackupFailed& e) {
    return logs("Резервная копия прибора не сохранена: " + e.reason);
}
EventText textOf(const ListNotWritable& e) {
    EventText t = logs("Запись конфигурации не начата: " + e.problem);
    t.box = e.problem;
    return t;
}
EventText textOf(const NumberSent& e) {
    return logs("Запись номера " + std::to_string(e.row));
}
EventText textOf(const FreeingRest&) {
    return logs("Инициализация свободной памяти");
}
EventText textOf(const NumbersWritten&) {
    return logs(replyText(ReplyKind::NumbersWritten));
}
EventText textOf(const ChangesWritten& e) {
    return logs("Записано изменений: " + std::to_string(e.cells));
}
EventText textOf(const ChangesNotHeld&) {
    return logs("Контрольное чтение: список прибора не совпал со списком (в приборе были пустые "
                "ячейки между номерами). Список записывается целиком");
}
EventText textOf(const NumberRefused&) {
    return logs("Неверное значение ячейки памяти");
}
EventText textOf(const NumberWriteStopped& e) {
    using Reason = NumberWriteStopped::Reason;
    switch (e.reason) {
    case Reason::NoAnswer:
        return logs("Нет ответа от прибора !");
    case Reason::NotSent:
        return logs(kAbandoned);
    case Reason::BadRow:
        return logs(std::string(kAbandoned) + ": " + e.detail);
    case Reason::ListNotRead:
        return logs(std::string(kAbandoned) +
                    ": список номеров прибора не считан; номера не записывались");
    case Reason::CheckNotRead:
        return logs(std::string(kAbandoned) +
                    ": контрольное чтение списка прибора не завершено; изменения записаны, "
                    "но не проверены");
    case Reason::BadApartment: {
        const std::string box = "'" + e.value + "' is not a valid integer value";
        EventText t = logs(std::string(kAbandoned) + ": " + e.detail + ": " + box);
        t.box = box;
        return t;
    }
    }
    return {};
}
EventText textOf(const AwaitingBootloader&) {
    return linkPanel(kAwaitingBootloader);
}
EventText textOf(const BootloaderReady& e) {
    // "Coe" and "v" are Latin letters, as the device's own greeting has them.
    return linkPanel("Coeдинение установлено: Загрузчик v." + std::to_string(e.version));
}
EventText textOf(const BootloaderSilent&) {
    EventText t = logsAndBox(kLostReply);
    t.link = kAwaitingBootloader;
    return t;
}
EventText textOf(const FirmwareFileUnreadable&) {
    return logs("Не удается открыть файл");
}
EventText textOf(const FirmwareFileInvalid&) {
    EventText t;
    t.box = "Некорректный файл прошивки";
    return t;
}
EventText textOf(const FirmwareDone&) {
    return logsAndBox("Программирование завершено");
}
EventText textOf(const FirmwareFailed& e) {
    const char* why = "выбрана другая страница";
    switch (e.cause) {
    case FirmwareStop::PageLeft:
        break;
    case FirmwareStop::PortLost:
        return logsAndBox("Программирование прервано: порт " + e.port + " отключен");
    case FirmwareStop::ProgramClosed:
        why = "программа закрыта";
        break;
    }
    return logsAndBox(std::string("Программирование прервано: ") + why);
}
EventText textOf(const FirmwareImage&) {
    return {}; // the firmware page shows it (firmwareVersionText)
}
EventText textOf(const FirmwareRejected&) {
    return logs("Ошибка программирования");
}
// A time of the server's rules: whole seconds as "10 с", else "500 мс".
std::string duration(std::int64_t ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " с" : std::to_string(ms) + " мс";
}
EventText textOf(const ServerStarted& e) {
    EventText t = logs("Сервер запущен, порт " + std::to_string(e.port) +
                       (e.address.empty() ? std::string() : ", адрес " + e.address));
    t.link = "Интернет - Ожидается соединение...";
    return t;
}
EventText textOf(const ServerStopped&) {
    EventText t;
    t.link = "Интернет";
    return t;
}
EventText box(std::string text) {
    EventText t;
    t.box = std::move(text);
    return t;
}
EventText textOf(const ServerPortRefused& e) {
    return box("Неверный порт сервера: \"" + e.typed + "\". Введите число от 0 до 65535");
}
EventText textOf(const ServerModuleMissing& e) {
    return box("Не удалось загрузить модуль сервера " + e.module + ": " + e.error);
}
EventText textOf(const ServerListenFailed& e) {
    return box("Не удалось открыть порт " + std::to_string(e.port) + ": " + e.error);
}
EventText textOf(const ServerSocketError& e) {
    return box("Ошибка: " + std::to_string(e.code));
}
EventText textOf(const AcceptPaused& e) {
    return logs("Интернет - не удается принять соединение (ошибка " + std::to_string(e.code) +
                "): прием приостановлен, повтор раз в секунду");
}
EventText textOf(const AcceptResumed&) {
    return logs("Интернет - прием соединений возобновлен");
}
EventText textOf(const NoDeviceOnServer&) {
    return logs("Прибор не подключен к серверу: команда не отправлена");
}
EventText textOf(const InternetClient& e) {
    EventText t;
    t.link = e.connected ? "Интернет - Соединение установлено" : "Интернет - Соединение прервано";
    return t;
}
EventText textOf(const ClientRefused& e) {
    switch (e.why) {
    case ClientRefusal::NotAllowed:
        return logs("Интернет - адрес " + e.address +
                    " не в списке разрешенных: соединение закрыто");
    case ClientRefusal::NotTheDevice:
        break;
    case ClientRefusal::Silent:
        return logs("Интернет - клиент с адреса " + e.address + " не назвался прибором за " +
                    duration(e.waitedMs) + ": соединение закрыто");
    }
    return logs("Интернет - клиент с адреса " + e.address +
                " не прибор (нет \"CONNECT\"): соединение закрыто");
}
EventText textOf(const RefusalsCounted& e) {
    return logs("Интернет - " +
                (e.periodMs > 0 ? "за " + duration(e.periodMs) + " " : std::string()) +
                "закрыто еще соединений не от прибора: " + std::to_string(e.count));
}
EventText textOf(const ConnectionsCapped& e) {
    return logs("Интернет - открыто соединений: " + std::to_string(e.count) +
                ", больше не держится: закрываются самые старые без \"CONNECT\"");
}
EventText textOf(const DeviceConnected& e) {
    return logs("Интернет - подключение с адреса " + e.peer);
}
EventText textOf(const DeviceReplaced& e) {
    return logs("Интернет - прежнее соединение прибора с адреса " + e.older +
                " закрыто: прибор подключился снова с адреса " + e.newer);
}
EventText textOf(const PacketCut& e) {
    return logs("Пакет номеров оборван: пропущено байт: " + std::to_string(e.bytes));
}
EventText textOf(const PacketTimedOut& e) {
    return logs("Пакет номеров не пришел целиком за " + duration(e.afterMs) +
                ": пропущено байт: " + std::to_string(e.bytes));
}
EventText textOf(const DeviceRead&) {
    return {};
}
EventText textOf(const BadPackets&) {
    return {};
}
EventText textOf(const FirmwareProgress&) {
    return {};
}

} // namespace

EventText eventText(const SessionEvent& event) {
    return std::visit([](const auto& e) { return textOf(e); }, event);
}

void showEventText(const SessionEvent& event, EventTextSink& sink) {
    const EventText t = eventText(event);
    for (const std::string& line : t.log) {
        sink.logLine(line);
    }
    if (t.port) {
        sink.portStatus(*t.port);
    }
    if (t.link) {
        sink.linkStatus(*t.link);
    }
    if (t.box) {
        sink.message(*t.box);
    }
    if (t.alarm) {
        sink.error(*t.alarm);
    }
}

std::string firmwareVersionText(std::optional<std::uint8_t> version) {
    return version ? "Версия: " + std::to_string(*version) : std::string("Версия:");
}
