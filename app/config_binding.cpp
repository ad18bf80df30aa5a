#include "app/config_binding.h"

#include "app/tform1_ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableWidget>

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::string toUtf8(const QString& text) {
    return text.toStdString();
}

QString joinLines(const std::vector<std::string>& lines) {
    QStringList all;
    for (const std::string& line : lines) {
        all << fromUtf8(line);
    }
    return all.join(QLatin1Char('\n'));
}

} // namespace

ConfigBinding::ConfigBinding(TForm1Ui& ui, QObject* parent)
    : QObject(parent), ui_(ui), chart_(ui.Chart) {
    for (QLineEdit* edit : {ui_.T_in, ui_.T_out, ui_.T_mem}) {
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { Edit_val_1_255(edit); });
    }
    connect(ui_.Num_dev, &QLineEdit::textChanged, this, [this] { Num_devChange(); });
    connect(ui_.act_time, &QLineEdit::textChanged, this, [this] { act_timeChange(); });
    connect(ui_.pause_time, &QLineEdit::textChanged, this, [this] { pause_timeChange(); });
    connect(ui_.povtor, &QLineEdit::textChanged, this, [this] { povtorChange(); });
    // The unit factors follow the lists whether the user or the program
    // changes them, so a factor can never disagree with its list.
    connect(ui_.act_mul, &QComboBox::currentIndexChanged, this, [this] { act_mulChange(); });
    connect(ui_.pause_mul, &QComboBox::currentIndexChanged, this, [this] { pause_mulChange(); });
    connect(ui_.Dev_prov, &QComboBox::currentIndexChanged, this, [this] { Dev_provChange(); });
    connect(ui_.Modem_prov, &QComboBox::currentIndexChanged, this, [this] { Modem_provChange(); });
}

ConfigPages ConfigBinding::pages() const {
    ConfigPages p;
    p.Password = toUtf8(ui_.Password->text());
    p.Oh_num = toUtf8(ui_.Oh_num->text());
    p.Num_dev = toUtf8(ui_.Num_dev->text());
    p.All_num_ch = ui_.All_num_ch->isChecked();
    p.SMS_ch = ui_.SMS_ch->isChecked();
    p.RING_ch = ui_.RING_ch->isChecked();
    p.Short_num = ui_.Short_num->isChecked();
    p.Mes_in = ui_.Mes_in->isChecked();
    p.Mes_rele = ui_.Mes_rele->isChecked();
    p.SendToRing = ui_.SendToRing->isChecked();
    p.KEYNUMBUT = ui_.KEYNUMBUT->isChecked();
    p.countryCode = toUtf8(ui_.Edit3->text());
    p.OUT_TOUT = toUtf8(ui_.OUT_TOUT->text());
    p.RELE_REJ = ui_.RELE_REJ->currentIndex();
    p.act_time = toUtf8(ui_.act_time->text());
    p.act_mul = ui_.act_mul->currentIndex();
    p.pause_time = toUtf8(ui_.pause_time->text());
    p.pause_mul = ui_.pause_mul->currentIndex();
    p.povtor = toUtf8(ui_.povtor->text());
    p.Ohrana_en = ui_.Ohrana_en->isChecked();
    p.Input_inv = ui_.Input_inv->isChecked();
    p.T_in = toUtf8(ui_.T_in->text());
    p.T_out = toUtf8(ui_.T_out->text());
    p.T_mem = toUtf8(ui_.T_mem->text());
    p.inputMode = ui_.rej_but1->isChecked()   ? 0
                  : ui_.rej_but2->isChecked() ? 1
                  : ui_.rej_but3->isChecked() ? 2
                                              : 3;
    for (int row = 0; row < static_cast<int>(p.keys.size()); ++row) {
        if (const QTableWidgetItem* cell = ui_.iButton->item(row, 0)) {
            p.keys[static_cast<std::size_t>(row)] = toUtf8(cell->text());
        }
    }
    return p;
}

void ConfigBinding::showPages(const ConfigPages& p) {
    // Half-filled timing edits (a new unit beside an old count) are never
    // turned into record fields: the preview waits until all are set.
    const bool wasEnabled = timing_.previewEnabled;
    timing_.previewEnabled = false;
    ui_.All_num_ch->setChecked(p.All_num_ch);
    ui_.SMS_ch->setChecked(p.SMS_ch);
    ui_.RING_ch->setChecked(p.RING_ch);
    ui_.Ohrana_en->setChecked(p.Ohrana_en);
    ui_.Input_inv->setChecked(p.Input_inv);
    ui_.Short_num->setChecked(p.Short_num);
    ui_.Mes_in->setChecked(p.Mes_in);
    ui_.Mes_rele->setChecked(p.Mes_rele);
    ui_.RELE_REJ->setCurrentIndex(p.RELE_REJ);
    setEditText(ui_.T_in, p.T_in);
    setEditText(ui_.T_out, p.T_out);
    setEditText(ui_.T_mem, p.T_mem);
    setEditText(ui_.Num_dev, p.Num_dev);
    ui_.SendToRing->setChecked(p.SendToRing);
    ui_.KEYNUMBUT->setChecked(p.KEYNUMBUT);
    setEditText(ui_.OUT_TOUT, p.OUT_TOUT);
    for (int row = 0; row < static_cast<int>(p.keys.size()); ++row) {
        QTableWidgetItem* cell = ui_.iButton->item(row, 0);
        if (cell == nullptr) {
            cell = new QTableWidgetItem();
            ui_.iButton->setItem(row, 0, cell);
        }
        cell->setText(fromUtf8(p.keys[static_cast<std::size_t>(row)]));
    }
    QRadioButton* radios[] = {ui_.rej_but1, ui_.rej_but2, ui_.rej_but3, ui_.rej_but4};
    if (p.inputMode >= 0 && p.inputMode <= 3) {
        radios[p.inputMode]->setChecked(true);
    }
    setEditText(ui_.Oh_num, p.Oh_num);
    setEditText(ui_.Edit3, p.countryCode);
    setTimingControls(p);
    timing_.previewEnabled = wasEnabled;
    act_mulChange();
    pause_mulChange();
}

bool ConfigBinding::Write_conf(QString* error) {
    const WriteConfResult result = ::Write_conf(pages());
    if (!result.ok()) {
        if (error != nullptr) {
            *error = fromUtf8(result.message());
        }
        return false;
    }
    configBlock = *result.block;
    return true;
}

void ConfigBinding::Read_conf() {
    ConfigPages p = pages();
    std::vector<std::string> notices;
    ::Read_conf(configBlock, p, &notices);
    // The unit actions at the end of showPages turn the edits back into the
    // record's timing fields, so the record holds what the window shows.
    showPages(p);
    reportNotices(notices);
}

void ConfigBinding::Load_data() {
    ConfigPages p = pages();
    std::vector<std::string> notices;
    ::Load_data(configBlock, p, &notices);
    timing_.previewEnabled = false;
    setTimingControls(p);
    timing_.previewEnabled = true;
    reportNotices(notices);
}

void ConfigBinding::startUp() {
    configBlock.relayMode = 3;
    configBlock.pulseMs = 5000;
    configBlock.pauseMs = 50;
    configBlock.repetitions = 1;
    Load_data();
    act_mulChange();
    pause_mulChange();
}

void ConfigBinding::Edit_val_1_255(QLineEdit* edit) {
    if (auto corrected = ::Edit_val_1_255(toUtf8(edit->text()))) {
        edit->setText(fromUtf8(*corrected));
    }
}

void ConfigBinding::Num_devChange() {
    if (auto corrected = ::Num_devChange(toUtf8(ui_.Num_dev->text()))) {
        ui_.Num_dev->setText(fromUtf8(*corrected));
    }
}

void ConfigBinding::act_timeChange() {
    if (auto corrected = relay_timing::timeTextCorrection(toUtf8(ui_.act_time->text()))) {
        ui_.act_time->setText(fromUtf8(*corrected)); // runs this action again
        return;
    }
    Add_grafh();
}

void ConfigBinding::pause_timeChange() {
    if (auto corrected = relay_timing::timeTextCorrection(toUtf8(ui_.pause_time->text()))) {
        ui_.pause_time->setText(fromUtf8(*corrected));
        return;
    }
    Add_grafh();
}

void ConfigBinding::povtorChange() {
    if (auto corrected = relay_timing::povtorCorrection(toUtf8(ui_.povtor->text()))) {
        ui_.povtor->setText(fromUtf8(*corrected));
        return;
    }
    Add_grafh();
}

void ConfigBinding::act_mulChange() {
    timing_.act_mulChange(ui_.act_mul->currentIndex());
    Add_grafh();
}

void ConfigBinding::pause_mulChange() {
    timing_.pause_mulChange(ui_.pause_mul->currentIndex());
    Add_grafh();
}

void ConfigBinding::Add_grafh() {
    const relay_timing::TimingTexts texts{
        toUtf8(ui_.act_time->text()), toUtf8(ui_.pause_time->text()), toUtf8(ui_.povtor->text())};
    const relay_timing::RelayTiming::Preview preview = timing_.preview(texts, configBlock);
    switch (preview.status) {
    case relay_timing::RelayTiming::Preview::Status::Disabled:
        break;
    case relay_timing::RelayTiming::Preview::Status::Drawn:
        chart_.show(preview.points);
        break;
    case relay_timing::RelayTiming::Preview::Status::Refused:
        reportError(joinLines(preview.errors));
        break;
    }
}

void ConfigBinding::Dev_provChange() {
    operators_.Dev_provChange(ui_.Dev_prov->currentIndex());
}

void ConfigBinding::Modem_provChange() {
    operators_.Modem_provChange(ui_.Modem_prov->currentIndex());
}

void ConfigBinding::selectOperators(int modemIndex, int deviceIndex) {
    ui_.Modem_prov->setCurrentIndex(operators::OperatorSelection::modemListIndex(modemIndex));
    ui_.Dev_prov->setCurrentIndex(operators::OperatorSelection::deviceListIndex(deviceIndex));
    // A list that already showed the stored item sends no change, so the
    // choice is applied here in any case.
    operators_.applyStored(modemIndex, deviceIndex);
}

void ConfigBinding::setEditText(QLineEdit* edit, const std::string& text) {
    const QString shown = fromUtf8(text);
    // A length limit is for typing; a value that came from the device must
    // be shown whole (a device number of five digits), not cut.
    if (shown.size() > edit->maxLength()) {
        edit->setMaxLength(static_cast<int>(shown.size()));
    }
    edit->setText(shown);
}

void ConfigBinding::setTimingControls(const ConfigPages& p) {
    ui_.act_mul->setCurrentIndex(p.act_mul);
    setEditText(ui_.act_time, p.act_time);
    ui_.pause_mul->setCurrentIndex(p.pause_mul);
    setEditText(ui_.pause_time, p.pause_time);
    setEditText(ui_.povtor, p.povtor);
}

void ConfigBinding::reportError(const QString& text) {
    if (errorSink_) {
        errorSink_(text);
        return;
    }
    // One box, reused: a refused entry is reported again on every keystroke
    // until it is mended, and boxes must not pile up.
    if (errorBox_.isNull()) {
        errorBox_ =
            new QMessageBox(QMessageBox::Warning, ui_.centralWidget->window()->windowTitle(),
                            QString(), QMessageBox::Ok, ui_.centralWidget->window());
    }
    errorBox_->setText(text);
    errorBox_->open();
}

void ConfigBinding::reportNotices(const std::vector<std::string>& notices) {
    for (const std::string& notice : notices) {
        if (noticeSink_) {
            noticeSink_(fromUtf8(notice));
        } else {
            ui_.Log->appendPlainText(fromUtf8(notice));
        }
    }
}
