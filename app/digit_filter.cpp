#include "app/digit_filter.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QWidget>

bool digitFilterAccepts(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'\b';
}

bool isCharacterInput(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return false;
    }
    const QString text = event.text();
    if (text.isEmpty()) {
        return false;
    }
    // Backspace is a character here: the typing rules name it. Other control
    // characters (Tab, Enter, Escape, Delete) belong to editing and navigation.
    for (const QChar ch : text) {
        if (ch.unicode() != u'\b' && (ch.unicode() < 0x20 || ch.unicode() == 0x7F)) {
            return false;
        }
    }
    return true;
}

void DigitFilter::install(QWidget* edit) {
    edit->installEventFilter(this);
}

bool DigitFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (isCharacterInput(*key)) {
            for (const QChar ch : key->text()) {
                if (!digitFilterAccepts(ch.unicode())) {
                    return true; // the key press is dropped
                }
            }
        }
    } else if (event->type() == QEvent::InputMethod) {
        // Characters composed by an input method arrive as a commit, not as key
        // presses; a commit holding anything but digits is dropped as a whole.
        const auto* im = static_cast<QInputMethodEvent*>(event);
        for (const QChar ch : im->commitString()) {
            if (!digitFilterAccepts(ch.unicode())) {
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}
