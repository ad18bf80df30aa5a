#include "link/internet_link_qt.h"

#include "app/install_layout.h"
#include "link/link_controller.h"

#include <QByteArrayView>
#include <QDir>
#include <QLibrary>

namespace {

std::string u(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

std::unique_ptr<TcpTransport> loadTcpTransport(const QString& folder, QString* error) {
    // Never unloaded: the transport's code must outlive every object it made.
    // Empty: beside the program, or where an installed program keeps it.
    const QDir dir(folder.isEmpty() ? install_layout::moduleFolder(install_layout::programFolder())
                                    : folder);
    QLibrary module(dir.filePath(QLatin1String(kTcpModuleName)));
    const auto make = reinterpret_cast<MakeTcpTransport>(module.resolve(kTcpModuleEntry));
    if (make == nullptr) {
        if (error != nullptr) {
            *error = module.errorString();
        }
        return nullptr;
    }
    return std::unique_ptr<TcpTransport>(make());
}

InternetLink::InternetLink(LinkController& link, QObject* parent) : QObject(parent), link_(link) {}

InternetLink::~InternetLink() = default;

bool InternetLink::isListening() const {
    return transport_ != nullptr && transport_->isListening();
}

quint16 InternetLink::listeningPort() const {
    return transport_ != nullptr ? transport_->port() : 0;
}

bool InternetLink::ensureTransport() {
    if (transport_ != nullptr) {
        return true;
    }
    QString error;
    transport_ = loadTcpTransport(moduleFolder, &error);
    if (transport_ == nullptr) {
        link_.view().showMessage("Не удалось загрузить модуль сервера " +
                                 std::string(kTcpModuleName) + ": " + u(error));
        return false;
    }
    transport_->accepted = [this](int connection, const QString& peer) {
        ServerSocket1ClientConnect(connection, peer);
    };
    transport_->received = [this](int connection, const char* bytes, std::size_t count) {
        readFrom(connection, bytes, count);
    };
    transport_->closed = [this](int connection) { ServerSocket1ClientDisconnect(connection); };
    transport_->failed = [this](int, int code, const QString& text) {
        ServerSocket1ClientError(code, text);
    };
    return true;
}

bool InternetLink::Start_server_fun(bool start, const QString& portText) {
    if (start) {
        bool ok = false;
        const uint port = portText.trimmed().toUInt(&ok);
        if (!ok || port > 65535) {
            link_.view().showMessage("Неверный порт сервера: \"" + u(portText) +
                                     "\". Введите число от 0 до 65535");
            return isListening();
        }
        if (!ensureTransport()) {
            return false;
        }
        QString error;
        if (!transport_->listen(static_cast<quint16>(port), &error)) {
            link_.view().showMessage("Не удалось открыть порт " + std::to_string(port) + ": " +
                                     u(error));
            return false;
        }
        if (setStartCaption) {
            setStartCaption(QString::fromUtf8("Остановить"));
        }
        link_.setStatusPanel(2, "Интернет - Ожидается соединение...");
        link_.logLine("Сервер запущен, порт " + std::to_string(transport_->port()));
    } else {
        if (transport_ != nullptr) {
            transport_->close();
        }
        clients_.clear();
        device_ = kNone;
        if (setStartCaption) {
            setStartCaption(QString::fromUtf8("Запустить"));
        }
        link_.setStatusPanel(2, "Интернет");
    }
    return isListening();
}

void InternetLink::ServerSocket1ClientConnect(int connection, const QString& peer) {
    clients_.append(connection);
    link_.logLine("Интернет - подключение с адреса " + u(peer));
    link_.setStatusPanel(2, "Интернет - Соединение установлено");
}

void InternetLink::ServerSocket1ClientDisconnect(int connection) {
    if (!clients_.removeOne(connection)) {
        return;
    }
    if (device_ == connection) {
        device_ = kNone;
    }
    link_.setStatusPanel(2, "Интернет - Соединение прервано");
}

void InternetLink::ServerSocket1ClientError(int code, const QString& text) {
    link_.view().showMessage("Ошибка: " + std::to_string(code) + " (" + u(text) + ")");
}

void InternetLink::readFrom(int connection, const char* bytes, std::size_t count) {
    // Each read of at most 1024 bytes is analysed by itself, at once.
    const QByteArrayView chunk(bytes, static_cast<qsizetype>(count));
    if (device_ == kNone && chunk.contains(QByteArrayView("CONNECT"))) {
        device_ = connection;
    }
    if (ServerSocket1ClientRead) {
        ServerSocket1ClientRead(reinterpret_cast<const std::uint8_t*>(bytes), count);
    }
}

int InternetLink::Send_data(const std::uint8_t* bytes, std::size_t count) {
    if (device_ == kNone) {
        link_.logLine("Прибор не подключен к серверу: команда не отправлена");
        return -1;
    }
    if (bytes == nullptr || count == 0) {
        return 0;
    }
    return static_cast<int>(transport_->send(device_, reinterpret_cast<const char*>(bytes),
                                             static_cast<qint64>(count)));
}
