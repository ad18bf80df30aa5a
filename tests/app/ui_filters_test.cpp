// Typing rules of the main window: the digits-only filter of seven edit boxes
// and the two grids' cell filters, as pure rules and through real key events
// into real widgets.
#include "app/digit_filter.h"
#include "app/grid_delegates.h"
#include "app/tform1_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// Types text as a keyboard would, one key press per character; unlike
// QTest::keyClicks it also types letters outside ASCII.
void typeText(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

TEST(UiFilterRules, DigitFilterTakesOnlyAsciiDigitsAndBackspace) {
    for (char16_t c = u'0'; c <= u'9'; ++c) {
        EXPECT_TRUE(digitFilterAccepts(c)) << static_cast<int>(c);
    }
    EXPECT_TRUE(digitFilterAccepts(u'\b'));
    // Letters, signs, blanks, other scripts' digits and control characters.
    for (char16_t c : {u'a', u'Z', u'-', u'+', u' ', u'.', u'/', u':', u'\u0431', u'\u0663',
                       u'\uFF11', u'\r', u'\0', u'\x7f'}) {
        EXPECT_FALSE(digitFilterAccepts(c)) << static_cast<int>(c);
    }
}

TEST(UiFilterRules, NumberGridLimitsLengthPerColumnButNotCharacters) {
    struct Case {
        int column;
        int length;
        char16_t c;
        bool accepted;
    };
    const Case cases[] = {
        {kNumberColumn, 0, u'8', true},     {kNumberColumn, 9, u'x', true},
        {kNumberColumn, 10, u'x', false},   {kNumberColumn, 15, u'1', false},
        {kNumberColumn, 10, u'\b', true},   {kNumberColumn, 0, u'\u0416', true},
        {kApartmentColumn, 3, u'7', true},  {kApartmentColumn, 4, u'7', false},
        {kApartmentColumn, 4, u'\b', true}, {kApartmentColumn, 0, u'a', true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(numberGridAccepts(c.column, c.length, c.c), c.accepted)
            << "column " << c.column << " length " << c.length << " char " << int(c.c);
    }
}

TEST(UiFilterRules, KeyGridTakesHexDigitsUpToTwelve) {
    for (char16_t c : {u'0', u'5', u'9', u'A', u'C', u'F', u'a', u'd', u'f', u'\b'}) {
        EXPECT_TRUE(KeyPressHex(c)) << static_cast<int>(c);
    }
    for (char16_t c :
         {u'G', u'g', u'z', u' ', u'\r', u'-', u'x', u'@', u'`', u'/', u':', u'\u0410', u'\0'}) {
        EXPECT_FALSE(KeyPressHex(c)) << static_cast<int>(c);
    }
    EXPECT_TRUE(keyGridAccepts(0, u'a'));
    EXPECT_TRUE(keyGridAccepts(11, u'F'));
    EXPECT_FALSE(keyGridAccepts(12, u'0'));
    EXPECT_TRUE(keyGridAccepts(12, u'\b'));
    EXPECT_FALSE(keyGridAccepts(0, u'G'));
}

class UiFilters : public ::testing::Test {
  protected:
    void SetUp() override {
        ui.setupUi(&form);
        form.show();
        QApplication::processEvents();
    }

    void showPage(QWidget* page) {
        ui.PageControl->setCurrentWidget(page);
        QApplication::processEvents();
    }

    QLineEdit* openEditor(QTableWidget* grid, int row, int column) {
        grid->setFocus();
        grid->setCurrentCell(row, column);
        grid->editItem(grid->item(row, column));
        QApplication::processEvents();
        return qobject_cast<QLineEdit*>(grid->viewport()->focusWidget() != nullptr
                                            ? grid->viewport()->focusWidget()
                                            : grid->findChild<QLineEdit*>());
    }

    static void flushDeletes() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }

    QMainWindow form;
    TForm1Ui ui;
};

TEST_F(UiFilters, DigitBoxesDropTypedLettersButKeepEditingKeys) {
    showPage(ui.TabSheet2);
    ui.Label29->show();
    ui.Edit2->show();
    for (QLineEdit* edit : {ui.Edit2, ui.OUT_TOUT, ui.Oh_num, ui.Num_dev}) {
        SCOPED_TRACE(edit->objectName().toStdString());
        edit->clear();
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("12a3"));
        EXPECT_EQ(edit->text(), QStringLiteral("123"));
        typeText(edit, u(" -+.бZ"));
        EXPECT_EQ(edit->text(), QStringLiteral("123"));
        QTest::keyClick(edit, Qt::Key_Backspace);
        EXPECT_EQ(edit->text(), QStringLiteral("12"));
        // Arrows, Home and Delete still edit the text.
        QTest::keyClick(edit, Qt::Key_Home);
        QTest::keyClick(edit, Qt::Key_Delete);
        EXPECT_EQ(edit->text(), QStringLiteral("2"));
        QTest::keyClick(edit, Qt::Key_End);
        QTest::keyClick(edit, Qt::Key_Left);
        QTest::keyClicks(edit, QStringLiteral("0"));
        EXPECT_EQ(edit->text(), QStringLiteral("02"));
    }
    showPage(ui.TabSheet3);
    for (QLineEdit* edit : {ui.T_in, ui.T_out, ui.T_mem}) {
        SCOPED_TRACE(edit->objectName().toStdString());
        edit->clear();
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("1x5"));
        EXPECT_EQ(edit->text(), QStringLiteral("15"));
    }
}

TEST_F(UiFilters, DigitBoxLengthLimitAndUnfilteredNeighbours) {
    showPage(ui.TabSheet2);
    ui.Num_dev->clear();
    QTest::keyClicks(ui.Num_dev, QStringLiteral("123456"));
    EXPECT_EQ(ui.Num_dev->text(), QStringLiteral("1234"));
    // Boxes outside the filter take any character.
    for (QLineEdit* edit : {ui.Edit3, ui.act_time, ui.Serv_port, ui.Comand_box}) {
        SCOPED_TRACE(edit->objectName().toStdString());
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("a1"));
        EXPECT_EQ(edit->text(), QStringLiteral("a1"));
    }
    showPage(ui.TabSheet1);
    ui.Password->clear();
    QTest::keyClicks(ui.Password, QStringLiteral("ab12x"));
    EXPECT_EQ(ui.Password->text(), QStringLiteral("ab12"));
}

TEST_F(UiFilters, DigitBoxShortcutsWorkAndPasteIsNotFiltered) {
    showPage(ui.TabSheet2);
    ui.Oh_num->setText(QStringLiteral("916"));
    ui.Oh_num->setFocus();
    QTest::keyClick(ui.Oh_num, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(ui.Oh_num->selectedText(), QStringLiteral("916"));
    QTest::keyClick(ui.Oh_num, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("916"));

    QGuiApplication::clipboard()->setText(QStringLiteral("8x9"));
    ui.Num_dev->clear();
    QTest::keyClick(ui.Num_dev, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ui.Num_dev->text(), QStringLiteral("8x9"));
}

TEST_F(UiFilters, DigitBoxDropsInputMethodTextWithLetters) {
    showPage(ui.TabSheet2);
    ui.Num_dev->clear();
    QInputMethodEvent mixed;
    mixed.setCommitString(QStringLiteral("5x"));
    QApplication::sendEvent(ui.Num_dev, &mixed);
    EXPECT_TRUE(ui.Num_dev->text().isEmpty());
    QInputMethodEvent digits;
    digits.setCommitString(QStringLiteral("56"));
    QApplication::sendEvent(ui.Num_dev, &digits);
    EXPECT_EQ(ui.Num_dev->text(), QStringLiteral("56"));
}

TEST_F(UiFilters, NumberGridEditorLimitsLengthAndEnterMovesDown) {
    showPage(ui.TabSheet1);
    QTableWidget* grid = ui.StringGrid1;

    QLineEdit* editor = openEditor(grid, 4, kNumberColumn);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("12345678901"));
    EXPECT_EQ(editor->text(), QStringLiteral("1234567890"))
        << "the eleventh character is swallowed";
    QTest::keyClick(editor, Qt::Key_Backspace);
    EXPECT_EQ(editor->text(), QStringLiteral("123456789"));
    typeText(editor, u("Ж"));
    QTest::keyClick(editor, Qt::Key_Return);
    flushDeletes();
    EXPECT_EQ(grid->item(4, kNumberColumn)->text(), u("123456789Ж"));
    EXPECT_EQ(grid->currentRow(), 5);
    EXPECT_EQ(grid->currentColumn(), kNumberColumn);

    editor = openEditor(grid, 5, kApartmentColumn);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("12345"));
    EXPECT_EQ(editor->text(), QStringLiteral("1234"));
    QTest::keyClick(editor, Qt::Key_Enter);
    flushDeletes();
    EXPECT_EQ(grid->item(5, kApartmentColumn)->text(), QStringLiteral("1234"));
    EXPECT_EQ(grid->currentRow(), 6);
    EXPECT_EQ(grid->currentColumn(), kApartmentColumn);

    // Enter on the last row keeps the cursor there and the list intact.
    editor = openEditor(grid, 649, kApartmentColumn);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("7"));
    QTest::keyClick(editor, Qt::Key_Return);
    flushDeletes();
    EXPECT_EQ(grid->item(649, kApartmentColumn)->text(), QStringLiteral("7"));
    EXPECT_EQ(grid->currentRow(), 649);
    EXPECT_EQ(grid->rowCount(), 650);
}

TEST_F(UiFilters, NumberGridEnterWithoutEditorMovesDownAndTypingReplacesTheCell) {
    showPage(ui.TabSheet1);
    QTableWidget* grid = ui.StringGrid1;
    grid->setFocus();
    grid->setCurrentCell(10, kNumberColumn);
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(grid->currentRow(), 11);
    EXPECT_EQ(grid->currentColumn(), kNumberColumn);

    // A full cell that is not being edited: typing starts over with the typed
    // character instead of being refused for the old text's length.
    grid->item(11, kNumberColumn)->setText(QStringLiteral("0123456789"));
    QTest::keyClicks(grid, QStringLiteral("5"));
    auto* editor = grid->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QStringLiteral("5"));
    QTest::keyClicks(editor, QStringLiteral("55555555555"));
    EXPECT_EQ(editor->text(), QStringLiteral("5555555555"));
}

TEST_F(UiFilters, KeyGridEditorTakesTwelveHexDigits) {
    showPage(ui.TabSheet3);
    QTableWidget* grid = ui.iButton;
    QLineEdit* editor = openEditor(grid, 0, 0);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("0a1G2 b3c4d5e6f"));
    EXPECT_EQ(editor->text(), QStringLiteral("0a12b3c4d5e6"))
        << "case is kept, G and blank dropped";
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, QStringLiteral("F"));
    EXPECT_EQ(editor->text(), QStringLiteral("0a12b3c4d5eF"));
    QTest::keyClick(editor, Qt::Key_Return);
    flushDeletes();
    EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("0a12b3c4d5eF"));
    EXPECT_EQ(grid->currentRow(), 0) << "Enter does not move in the key grid";

    // A letter that is not a hexadecimal digit opens no editor on a cell.
    grid->setFocus();
    grid->setCurrentCell(1, 0);
    QTest::keyClicks(grid, QStringLiteral("G"));
    flushDeletes();
    EXPECT_EQ(grid->findChild<QLineEdit*>(), nullptr);
    EXPECT_TRUE(grid->item(1, 0)->text().isEmpty());
    QTest::keyClicks(grid, QStringLiteral("c"));
    editor = grid->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QStringLiteral("c"));
}

TEST_F(UiFilters, GridFiltersLeaveTextsSetByProgramAlone) {
    // Device read-back and files may bring longer texts; they are stored as they
    // come, and opening and closing an editor keeps them whole.
    const QString longNumber = QStringLiteral("+7916123456789");
    ui.StringGrid1->item(0, kNumberColumn)->setText(longNumber);
    showPage(ui.TabSheet1);
    QLineEdit* editor = openEditor(ui.StringGrid1, 0, kNumberColumn);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), longNumber);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, QStringLiteral("0"));
    QTest::keyClick(editor, Qt::Key_Return);
    flushDeletes();
    EXPECT_EQ(ui.StringGrid1->item(0, kNumberColumn)->text(), longNumber);
}

} // namespace
