// Start-up probe of the configurator's own window: the program entry of
// vxrt7-config (title, command line, TForm1, show, message loop), with the
// probe application of first_paint.h in place of the plain QApplication.
// idle_startup also runs a copy of it placed in the bin/ folder of a staging
// install, beside the installed vxrt7-config. Run by idle_startup; by hand:
//   QT_QPA_PLATFORM=offscreen build/bin/first_paint_config --settings DIR/Сonfig.ini
#include "app/install_layout.h"
#include "app/tform1.h"
#include "first_paint.h"

#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char* argv[]) {
    first_paint::Marks marks;
    marks.main = first_paint::monotonicNs();
    first_paint::ProbeApplication app(argc, argv, marks);
    QApplication::setApplicationName(QStringLiteral("vxrt7-config"));
    QApplication::setApplicationVersion(QStringLiteral(VXRT7_VERSION));
    QApplication::setApplicationDisplayName(QString::fromUtf8("Ключ GSM VX-RT-7 \"Велиран\""));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QString::fromUtf8("Конфигуратор GSM-ключа VX-RT-7 \"Велиран\""));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption portOption(QStringList{QStringLiteral("port")},
                                  QString::fromUtf8("Последовательный порт на этот запуск"),
                                  QStringLiteral("NAME"));
    // Where the settings are read and written, so that a run leaves nothing
    // beside the benchmark's programs.
    QCommandLineOption settingsOption(QStringList{QStringLiteral("settings")},
                                      QStringLiteral("settings file"), QStringLiteral("PATH"));
    parser.addOption(portOption);
    parser.addOption(settingsOption);
    parser.process(app);

    TForm1::Options options;
    options.handleSignals = true;
    if (parser.isSet(portOption)) {
        options.portOverride = parser.value(portOption);
    }
    options.settingsPath = parser.value(settingsOption);
    // As vxrt7-config: an installed program keeps its settings in the user's folder.
    if (!parser.isSet(settingsOption) &&
        install_layout::isInstalled(install_layout::programFolder())) {
        options.settingsPath = install_layout::userSettingsPath();
    }
    TForm1 form(options);
    marks.window = first_paint::monotonicNs();
    app.watch(&form);
    form.show();
    marks.shown = first_paint::monotonicNs();
    // A window that is never drawn ends the run without a figure.
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}
