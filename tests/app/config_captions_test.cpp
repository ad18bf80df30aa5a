// The command line names settings by the captions of the window: every
// caption of the field table must be a caption on the real window.
#include "app/tform1_ui.h"
#include "config/config_fields.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>

#include <gtest/gtest.h>

TEST(ConfigCaptions, EveryFieldOfTheTableIsNamedAsOnTheWindow) {
    QMainWindow form;
    TForm1Ui ui;
    ui.setupUi(&form);
    QSet<QString> captions;
    for (const QLabel* label : form.findChildren<QLabel*>()) {
        captions.insert(label->text());
    }
    for (const QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
        captions.insert(button->text());
    }
    for (const QGroupBox* group : form.findChildren<QGroupBox*>()) {
        captions.insert(group->title());
    }
    ASSERT_FALSE(config_fields::fields().empty());
    for (const auto& field : config_fields::fields()) {
        EXPECT_TRUE(captions.contains(QString::fromUtf8(field.caption))) << field.caption;
        if (field.context != nullptr) {
            EXPECT_TRUE(captions.contains(QString::fromUtf8(field.context))) << field.context;
        }
    }
}
