// The window side of the firmware page "Обновление ПО": the buttons "Открыть"
// and "Обновить", the image's path and version, and going back to the first
// page when programming is done. The exchange itself is the device session's.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class DeviceSession;
class TForm1Ui;

class FirmwarePageBinding : public QObject {
  public:
    // Shows the window's open dialog with a filter entry (1-based) and a
    // preset name; returns the chosen path or an empty text.
    using OpenDialog = std::function<QString(int filterIndex, const QString& fileName)>;

    // Everything passed in must outlive the binding; the window connects
    // the buttons to the handlers.
    FirmwarePageBinding(TForm1Ui& ui, DeviceSession& session, OpenDialog openDialog,
                        QObject* parent = nullptr);

    void Open_FWClick(); // "Открыть"
    void ProgramClick(); // "Обновить"

    // Firmware_file and FW_ver: the held image's path and its version text.
    void showImage(const std::string& path, const std::string& versionText);
    // Selects the first item of the navigation tree and shows its page.
    void showFirstPage();

  private:
    TForm1Ui& ui_;
    DeviceSession& session_;
    OpenDialog openDialog_;
};
