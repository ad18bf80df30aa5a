#include "app/grid_delegates.h"

#include "app/digit_filter.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableWidget>

namespace {

const char* const kColumnProperty = "gridColumn";
const char* const kRowProperty = "gridRow";

bool isEnter(const QKeyEvent& key) {
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) &&
           !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

} // namespace

bool numberGridAccepts(int column, int cellLength, char16_t c) {
    if (c == u'\b') {
        return true;
    }
    if (column == kNumberColumn) {
        return cellLength < kNumberTypedLength;
    }
    if (column == kApartmentColumn) {
        return cellLength < kApartmentTypedLength;
    }
    return true;
}

bool KeyPressHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f') ||
           c == u'\b';
}

bool keyGridAccepts(int cellLength, char16_t c) {
    if (!KeyPressHex(c)) {
        return false;
    }
    return c == u'\b' || cellLength < kKeyTypedLength;
}

GridTypingDelegate::GridTypingDelegate(QTableWidget* view)
    : QStyledItemDelegate(view), view_(view) {
    view_->installEventFilter(this);
}

QWidget* GridTypingDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor != nullptr) {
        editor->setProperty(kColumnProperty, index.column());
        editor->setProperty(kRowProperty, index.row());
    }
    return editor;
}

bool GridTypingDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_) {
        // The base filter treats what it watches as a cell editor; the grid
        // itself is not one.
        return filterViewKey(event);
    }
    if (auto* editor = qobject_cast<QWidget*>(watched); editor != nullptr) {
        if (filterEditorKey(editor, event)) {
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}

bool GridTypingDelegate::filterViewKey(QEvent* event) {
    // While a cell is edited its editor has the keys; only the keys it leaves
    // (navigation, Enter of the key grid) reach the grid itself.
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const QModelIndex current = view_->currentIndex();
    if (isEnter(*key)) {
        if (enterMovesDown() && current.isValid()) {
            moveDown(current.row(), current.column());
            return true;
        }
        return false;
    }
    if (!isCharacterInput(*key) || !current.isValid()) {
        return false;
    }
    // A character typed on a cell that is not being edited opens the editor
    // with that character in place of the cell's text, so only the character
    // itself is judged here.
    for (const QChar ch : key->text()) {
        if (!accepts(current.column(), 0, ch.unicode())) {
            return true;
        }
    }
    return false;
}

bool GridTypingDelegate::filterEditorKey(QWidget* editor, QEvent* event) {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) {
        return false;
    }
    const int column = editor->property(kColumnProperty).toInt();
    // Typing replaces the selected part of the text, so that part does not count.
    const int length =
        static_cast<int>(line->text().size()) - static_cast<int>(line->selectedText().size());
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (isEnter(*key) && enterMovesDown()) {
            const int row = editor->property(kRowProperty).toInt();
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            moveDown(row, column);
            return true;
        }
        if (!isCharacterInput(*key)) {
            return false;
        }
        int grown = length;
        for (const QChar ch : key->text()) {
            if (!accepts(column, grown, ch.unicode())) {
                return true;
            }
            ++grown;
        }
        return false;
    }
    if (event->type() == QEvent::InputMethod) {
        const auto* im = static_cast<QInputMethodEvent*>(event);
        int grown = length;
        for (const QChar ch : im->commitString()) {
            if (!accepts(column, grown, ch.unicode())) {
                return true;
            }
            ++grown;
        }
    }
    return false;
}

void GridTypingDelegate::moveDown(int row, int column) {
    // On the last row the cursor stays where it is; the list is not touched.
    if (row + 1 < view_->rowCount()) {
        view_->setCurrentCell(row + 1, column);
    }
}
