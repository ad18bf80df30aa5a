// Notes the moment each line of the log box appeared, for "Сохранить журнал".
// The time rides on the line's text block, so a box that drops its oldest
// lines drops their times with them, and whoever appends a line needs to do
// nothing more.
#pragma once

#include "files/log_file.h"

#include <QObject>
#include <vector>

class QPlainTextEdit;

class LogStamps : public QObject {
    Q_OBJECT
  public:
    explicit LogStamps(QPlainTextEdit* box);

    // Every line of the box with its time, oldest first.
    std::vector<log_file::Line> lines() const;

  private:
    void stampNewLines();
    QPlainTextEdit* box_;
};
