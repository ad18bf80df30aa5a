#include "app/firmware_page_binding.h"

#include "app/tform1_ui.h"
#include "session/device_session.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeWidget>

FirmwarePageBinding::FirmwarePageBinding(TForm1Ui& ui, DeviceSession& session,
                                         OpenDialog openDialog, QObject* parent)
    : QObject(parent), ui_(ui), session_(session), openDialog_(std::move(openDialog)) {}

void FirmwarePageBinding::Open_FWClick() {
    // The second filter entry is "Binary files [*.bin]".
    const QString path = openDialog_(2, QStringLiteral("*.bin"));
    if (path.isEmpty()) {
        return;
    }
    session_.openFirmware(QFile::encodeName(path).toStdString());
}

void FirmwarePageBinding::ProgramClick() {
    session_.programFirmware();
}

void FirmwarePageBinding::showImage(const std::string& path, const std::string& versionText) {
    ui_.Firmware_file->setText(QFile::decodeName(QByteArray::fromStdString(path)));
    ui_.FW_ver->setText(QString::fromStdString(versionText));
}

void FirmwarePageBinding::showFirstPage() {
    ui_.TreeView->setCurrentItem(ui_.TreeView->topLevelItem(0));
    ui_.PageControl->setCurrentIndex(0);
    ui_.PageControl->setVisible(true);
}
