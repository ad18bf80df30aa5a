// The window side of the device configuration: reads the controls of the
// pages into `ConfigPages` and back, guards the edit boxes, keeps the relay
// timing fields and the preview chart up to date on every change, follows the
// operator choices, and holds the one `configBlock` of the program.
#pragma once

#include "app/config_pages.h"
#include "app/relay_chart.h"
#include "config/config_block.h"
#include "config/operators.h"
#include "config/relay_timing.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>

class QLineEdit;
class QMessageBox;
class TForm1Ui;

class ConfigBinding : public QObject {
  public:
    // Connects the handlers to the controls of `ui`, which must outlive this.
    explicit ConfigBinding(TForm1Ui& ui, QObject* parent = nullptr);

    // The device's settings record as last built, received or loaded.
    ConfigBlock configBlock;

    // Where messages go. Errors (an entry the preview refuses) default to a
    // message box over the window; notices (a duration read from a record
    // that its edit can only show rounded) default to a line in the log.
    using MessageSink = std::function<void(const QString&)>;
    void setErrorSink(MessageSink sink) { errorSink_ = std::move(sink); }
    void setNoticeSink(MessageSink sink) { noticeSink_ = std::move(sink); }

    // The controls as the user sees them, and back (all but the password);
    // showing ends with both unit change actions, as a read does.
    ConfigPages pages() const;
    void showPages(const ConfigPages& pages);

    // Builds `configBlock` from the controls. On a value that does not fit
    // its field returns false with every reason in `error` (one a line) and
    // leaves `configBlock` unchanged.
    bool Write_conf(QString* error);
    // Shows `configBlock` in the controls (not the password), then Load_data
    // and the unit lists' change actions, which bring the timing fields of
    // `configBlock` in line with what the edits show.
    void Read_conf();
    // Fills the timing edits from `configBlock` with the preview held off.
    void Load_data();
    // The window's creation: relay mode 3, pulse 5000 ms, pause 50 ms, one
    // repetition, then Load_data and both unit change actions.
    void startUp();

    // Change actions of the controls (connected by the constructor; public so
    // that the window can run them as its design says).
    void Edit_val_1_255(QLineEdit* edit);
    void Num_devChange();
    void act_timeChange();
    void pause_timeChange();
    void povtorChange();
    void act_mulChange();
    void pause_mulChange();
    void Add_grafh();
    void Dev_provChange();
    void Modem_provChange();

    // Start-up: the operator indexes read from the settings file, applied as
    // if chosen; an index outside a list selects nothing there.
    void selectOperators(int modemIndex, int deviceIndex);
    // The access point for the "APN" command (plain ASCII, so already 1251).
    const std::string& deviceApn() const { return operators_.deviceApn(); }

    const relay_timing::RelayTiming& timing() const { return timing_; }
    RelayChart& chart() { return chart_; }

  private:
    void setEditText(QLineEdit* edit, const std::string& text);
    void setTimingControls(const ConfigPages& pages);
    void reportError(const QString& text);
    void reportNotices(const std::vector<std::string>& notices);

    TForm1Ui& ui_;
    relay_timing::RelayTiming timing_;
    operators::OperatorSelection operators_;
    RelayChart chart_;
    MessageSink errorSink_;
    MessageSink noticeSink_;
    QPointer<QMessageBox> errorBox_;
};
