// The key filter shared by the edit boxes that take only a number (the server
// port, the relay time-out, the owner and device numbers, the guard times):
// typed characters other than the digits 0 to 9 are dropped. Editing keys
// (arrows, Delete, Tab, Backspace) and shortcuts (Ctrl+C, Ctrl+V) pass, and
// pasted text is not filtered.
#pragma once

#include <QObject>

class QKeyEvent;
class QWidget;

// True when the typed character c may go into a digits-only box: a digit "0"
// to "9" or backspace (byte 8).
bool digitFilterAccepts(char16_t c);

// True when a key press or an input-method commit carries typed text, as
// opposed to a navigation or editing key or a shortcut with Ctrl, Alt or Meta.
// Only such text is subject to the typing rules of the window's boxes and grids.
bool isCharacterInput(const QKeyEvent& event);

class DigitFilter : public QObject {
    Q_OBJECT
  public:
    explicit DigitFilter(QObject* parent = nullptr) : QObject(parent) {}

    // Starts filtering the typed characters of `edit`.
    void install(QWidget* edit);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
