// Program entry of the configurator: the application title, the command line
// (--port overrides the stored port for this run, --listen starts the
// Internet server at once), the main window and the message loop.
#include "app/install_layout.h"
#include "app/tform1.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vxrt7-config"));
    QApplication::setApplicationVersion(QStringLiteral(VXRT7_VERSION));
    // No application display name: X11 would append it to the window's
    // caption ("… v3.0 — Ключ GSM …"), and the caption is the designed one.

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QString::fromUtf8("Конфигуратор GSM-ключа VX-RT-7 \"Велиран\""));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption portOption(
        QStringList{QStringLiteral("port")},
        QString::fromUtf8(
            "Последовательный порт на этот запуск (имя в /dev, полный путь или COMn)"),
        QStringLiteral("NAME"));
    parser.addOption(portOption);
    QCommandLineOption listenOption(
        QStringList{QStringLiteral("listen")},
        QString::fromUtf8("Сразу запустить сервер Интернет-соединения на этом порту TCP"),
        QStringLiteral("TCP_PORT"));
    parser.addOption(listenOption);
    parser.process(app);

    TForm1::Options options;
    options.handleSignals = true;
    if (parser.isSet(portOption)) {
        options.portOverride = parser.value(portOption);
    }
    if (install_layout::isInstalled(install_layout::programFolder())) {
        options.settingsPath = install_layout::userSettingsPath();
    }
    TForm1 form(options);
    form.show();
    if (parser.isSet(listenOption)) {
        // As a user would: the entry "Интернет" of the port list, the port
        // typed in, "Запустить".
        form.Port_BoxDropDown();
        form.ui.Port_Box->setCurrentIndex(form.ui.Port_Box->count() - 1);
        form.ui.Edit2->setText(parser.value(listenOption));
        form.Start_serverClick();
    }
    return app.exec();
}
