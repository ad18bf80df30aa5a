// The window side of the firmware page "Обновление ПО": the buttons "Открыть"
// and "Обновить", the image's path and version, and going back to the first
// page when programming is done. The exchange itself is BootloaderSession.
#pragma once

#include "firmware/bootloader_session.h"

#include <QObject>
#include <QString>

#include <functional>

class LinkController;
class TForm1Ui;

class FirmwarePageBinding : public QObject, private FirmwarePageView {
  public:
    // Shows the window's open dialog with a filter entry (1-based) and a
    // preset name; returns the chosen path or an empty text.
    using OpenDialog = std::function<QString(int filterIndex, const QString& fileName)>;

    // Everything passed in must outlive the binding; the window connects
    // the buttons to the handlers.
    FirmwarePageBinding(TForm1Ui& ui, LinkController& link, OpenDialog openDialog,
                        QObject* parent = nullptr);

    BootloaderSession session;

    void Open_FWClick(); // "Открыть"
    void ProgramClick(); // "Обновить"

  private:
    void showImage(const std::string& path, const std::string& versionText) override;
    void showFirstPage() override;

    TForm1Ui& ui_;
    OpenDialog openDialog_;
};
