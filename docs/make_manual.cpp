// Builds the user manual: renders the real main window offscreen, linked over
// a pseudo-terminal to the simulated device, takes a picture of each page and
// state the manual shows, and typesets the Markdown source with those
// pictures into a PDF (Qt's own PDF writer, fonts embedded).
//
//   vxrt7-manual --source FILE.md --output FILE.pdf [--shots FOLDER]
//                [--module-folder FOLDER]
//
// A picture is referenced in the source as ![caption](name.png). The program
// fails, and the build with it, when the window does not reach the state a
// picture should show or the source names a picture it does not take: a
// manual whose pictures no longer match the window is not written.
#include "app/tform1.h"
#include "sim/sim_runner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QMap>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// Runs the event loop until `done` holds, at most `ms`.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void settle(int ms = 60) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// `wanted` when nothing listens there, otherwise a port the system has free.
quint16 freeTcpPort(quint16 wanted) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw Failure("socket: " + std::string(std::strerror(errno)));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(wanted);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        address.sin_port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            throw Failure("bind: " + std::string(std::strerror(errno)));
        }
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// The simulated device with a short list of subscribers, so that the number
// grid has something to show.
sim::SimRunner::Options deviceOptions(const QString& link) {
    sim::SimRunner::Options o;
    o.linkPath = link.toStdString();
    o.keepRecord = false;
    const std::pair<const char*, std::uint16_t> subscribers[] = {
        {"9161234567", 1},  {"9037654321", 2},  {"9265550101", 5},  {"9857770022", 12},
        {"9031112233", 14}, {"9169998877", 21}, {"9254443322", 33}, {"9680001122", 47}};
    for (const auto& [number, apartment] : subscribers) {
        o.state.numbers.push_back({number, apartment});
    }
    return o;
}

class Shooter {
  public:
    Shooter(const QString& moduleFolder, const QString& shotFolder) : shotFolder_(shotFolder) {
        if (!dir_.isValid()) {
            throw Failure("cannot make a temporary folder");
        }
        const QString link = dir_.filePath(QStringLiteral("tty"));
        device_ = std::make_unique<sim::SimRunner>(deviceOptions(link));
        device_->start();

        TForm1::Options o;
        o.portOverride = link;
        o.settingsPath = dir_.filePath(QStringLiteral("settings.ini"));
        o.sysClassTty = dir_.filePath(QStringLiteral("no-sys"));
        form_ = std::make_unique<TForm1>(o);
        if (!moduleFolder.isEmpty()) {
            form_->ServerSocket1->moduleFolder = moduleFolder;
        }
        form_->show();
    }

    TForm1& form() { return *form_; }

    void expect(bool reached, const char* what) {
        if (!reached) {
            throw Failure(std::string("the window did not reach the state to picture: ") + what +
                          " (status: " + form_->ui.StatusPanels[2]->text().toStdString() +
                          ", log: " + form_->ui.Log->toPlainText().toStdString() + ")");
        }
    }
    bool logHas(const char* text) const { return form_->ui.Log->toPlainText().contains(u(text)); }

    void page(int item) {
        QTreeWidget* tree = form_->ui.TreeView;
        tree->setCurrentItem(tree->topLevelItem(item));
        form_->TreeViewClick();
        settle();
        expect(form_->currentPage() == item, "the page chosen in the tree");
    }

    void shoot(const QString& name) {
        settle();
        const QImage image = form_->grab().toImage();
        if (image.isNull()) {
            throw Failure("cannot grab the window for " + name.toStdString());
        }
        shots_.insert(name, image);
        if (!shotFolder_.isEmpty()) {
            QDir().mkpath(shotFolder_);
            image.save(QDir(shotFolder_).filePath(name));
        }
    }

    const QMap<QString, QImage>& shots() const { return shots_; }

    ~Shooter() {
        form_.reset();
        device_.reset();
    }

  private:
    QTemporaryDir dir_;
    QString shotFolder_;
    std::unique_ptr<sim::SimRunner> device_;
    std::unique_ptr<TForm1> form_;
    QMap<QString, QImage> shots_;
};

// Every picture the manual shows, in the order the window gets there.
QMap<QString, QImage> takeShots(const QString& moduleFolder, const QString& shotFolder) {
    Shooter s(moduleFolder, shotFolder);
    TForm1& f = s.form();
    const QString linked = u("Coeдинение установлено");
    s.expect(waitFor([&] { return f.ui.StatusPanels[2]->text().startsWith(linked); }, 8000),
             "linked to the device");
    s.shoot(QStringLiteral("linked.png"));

    f.N6Click();
    s.expect(waitFor([&] { return s.logHas("Чтение номеров завершено"); }, 8000),
             "configuration and numbers read");
    s.shoot(QStringLiteral("numbers.png"));

    f.ui.Edit1->setText(QStringLiteral("903"));
    s.shoot(QStringLiteral("search.png"));
    f.ui.Edit1->clear();

    s.page(1);
    s.shoot(QStringLiteral("settings.png"));
    s.page(2);
    s.shoot(QStringLiteral("keys.png"));
    s.page(3);
    s.shoot(QStringLiteral("firmware.png"));

    // The Internet link: the entry "Интернет" of the port list, the server on
    // its usual port, or on one that is free when another program has that.
    s.page(1);
    f.Port_BoxDropDown();
    f.ui.Port_Box->setCurrentIndex(f.ui.Port_Box->count() - 1);
    f.ui.Edit2->setText(QString::number(freeTcpPort(10000)));
    f.Start_serverClick();
    s.expect(f.ServerSocket1->isListening(), "the Internet server listening");
    s.shoot(QStringLiteral("internet.png"));
    f.Start_serverClick();
    return s.shots();
}

QString readSource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Failure("cannot read " + path.toStdString() + ": " +
                      file.errorString().toStdString());
    }
    return QString::fromUtf8(file.readAll());
}

void writePdf(const QString& markdown, const QMap<QString, QImage>& shots, const QString& output) {
    QTextDocument doc;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    doc.setDefaultFont(font);
    doc.setDefaultStyleSheet(QStringLiteral("h1 { color: #1a4f8f; } h2 { color: #1a4f8f; }"));

    doc.setMarkdown(markdown); // clears the resources: they come after it
    static const QRegularExpression picture(QStringLiteral(R"(!\[[^\]]*\]\(([^)\s]+)\))"));
    for (auto it = picture.globalMatch(markdown); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (!shots.contains(name)) {
            throw Failure("the manual shows a picture that is not taken: " + name.toStdString());
        }
        doc.addResource(QTextDocument::ImageResource, QUrl(name), shots.value(name));
    }
    doc.setMetaInformation(QTextDocument::DocumentTitle,
                           u("Конфигуратор GSM-ключа VX-RT-7. Руководство пользователя"));

    const QString partial = output + QStringLiteral(".part");
    {
        QPdfWriter pdf(partial);
        pdf.setTitle(doc.metaInformation(QTextDocument::DocumentTitle));
        pdf.setCreator(QStringLiteral("vxrt7-manual"));
        pdf.setResolution(300);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(20, 18, 18, 18), QPageLayout::Millimeter));
        doc.print(&pdf);
    }
    QFile::remove(output);
    if (!QFile::rename(partial, output)) {
        throw Failure("cannot write " + output.toStdString());
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // The window keeps a backup of every complete read: the screenshots'
    // reads go to a folder of their own, never into the user's.
    QTemporaryDir backups;
    qputenv("XDG_DATA_HOME", backups.path().toUtf8());
    QApplication::setApplicationDisplayName(u("Ключ GSM VX-RT-7 \"Велиран\""));

    QString source;
    QString output;
    QString shotFolder;
    QString moduleFolder;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& name = args[i];
        const QString& value = args[i + 1];
        if (name == QLatin1String("--source")) {
            source = value;
        } else if (name == QLatin1String("--output")) {
            output = value;
        } else if (name == QLatin1String("--shots")) {
            shotFolder = value;
        } else if (name == QLatin1String("--module-folder")) {
            moduleFolder = value;
        }
    }
    if (source.isEmpty() || output.isEmpty()) {
        std::fprintf(stderr, "usage: vxrt7-manual --source FILE.md --output FILE.pdf "
                             "[--shots FOLDER] [--module-folder FOLDER]\n");
        return 2;
    }
    try {
        const QString markdown = readSource(source);
        const auto shots = takeShots(moduleFolder, shotFolder);
        writePdf(markdown, shots, output);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vxrt7-manual: %s\n", e.what());
        return 1;
    }
    return 0;
}
