// Program entry of the configurator: the application title, the command line
// (--port overrides the stored port for this run), the main window and the
// message loop.
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
    parser.process(app);

    TForm1::Options options;
    options.handleSignals = true;
    if (parser.isSet(portOption)) {
        options.portOverride = parser.value(portOption);
    }
    TForm1 form(options);
    form.show();
    return app.exec();
}
