// Typing rules of the two string grids of the main window, as item delegates
// that filter what is typed into a cell: the number grid (`StringGrid1`) takes
// any character up to 10 in the number column and 4 in the apartment column,
// and Enter moves to the next row; the key grid (`iButton`) takes only
// hexadecimal digits, up to 12. Texts that arrive by program (device read-back,
// files, CSV import) are not filtered.
#pragma once

#include <QStyledItemDelegate>

class QTableWidget;

// Columns of the number grid as the table holds them.
constexpr int kNumberColumn = 0;
constexpr int kApartmentColumn = 1;

constexpr int kNumberTypedLength = 10;
constexpr int kApartmentTypedLength = 4;
constexpr int kKeyTypedLength = 12;

// Whether the typed character c may go into the number grid's cell of `column`
// whose text already holds `cellLength` characters. Backspace always passes.
bool numberGridAccepts(int column, int cellLength, char16_t c);

// The key grid's character filter: hexadecimal digits (either case) and
// backspace pass, everything else is swallowed.
bool KeyPressHex(char16_t c);

// Whether the typed character c may go into a key cell whose text already
// holds `cellLength` characters.
bool keyGridAccepts(int cellLength, char16_t c);

// Common part: filters the characters typed into a cell editor, and into the
// grid itself while no editor is open (typing there opens one).
class GridTypingDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    explicit GridTypingDelegate(QTableWidget* view);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The rule for one character typed into an editor of `column`.
    virtual bool accepts(int column, int cellLength, char16_t c) const = 0;
    // Enter in a cell of this grid moves to the next row.
    virtual bool enterMovesDown() const = 0;

    QTableWidget* view_;

  private:
    bool filterEditorKey(QWidget* editor, QEvent* event);
    bool filterViewKey(QEvent* event);
    void moveDown(int row, int column);
};

class NumberGridDelegate : public GridTypingDelegate {
    Q_OBJECT
  public:
    using GridTypingDelegate::GridTypingDelegate;

  protected:
    bool accepts(int column, int cellLength, char16_t c) const override {
        return numberGridAccepts(column, cellLength, c);
    }
    bool enterMovesDown() const override { return true; }
};

class KeyGridDelegate : public GridTypingDelegate {
    Q_OBJECT
  public:
    using GridTypingDelegate::GridTypingDelegate;

  protected:
    bool accepts(int, int cellLength, char16_t c) const override {
        return keyGridAccepts(cellLength, c);
    }
    bool enterMovesDown() const override { return false; }
};
