// The password dialog, driven without a modal loop.
#include "archive/PasswordDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <gtest/gtest.h>

namespace {

QPushButton* Button(const TPasswordDialog& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(name);
}

TEST(PasswordDialogTest, ShowsItsTextsAndMasksTheEntry) {
    TPasswordDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Password");
    EXPECT_TRUE(dialog.isModal());
    const auto labels = dialog.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), "Enter Password ");
    EXPECT_EQ(dialog.Edit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.Edit()->maxLength(), 80);
    EXPECT_EQ(dialog.Edit()->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                dialog.Edit()),
              '*');
    ASSERT_TRUE(Button(dialog, "btnOK") && Button(dialog, "btnCancel") &&
                Button(dialog, "btnCancelAll"));
    EXPECT_EQ(Button(dialog, "btnOK")->text(), "&OK");
    EXPECT_EQ(Button(dialog, "btnCancel")->text(), "&Cancel");
    EXPECT_EQ(Button(dialog, "btnCancelAll")->text(), "CancelAll");
}

TEST(PasswordDialogTest, AnswersFollowTheButtonPressed) {
    const struct {
        const char* button;
        TZipPasswordAnswer answer;
        QString password;
    } cases[] = {{"btnOK", TZipPasswordAnswer::Ok, "typed"},
                 {"btnCancel", TZipPasswordAnswer::Cancel, ""},
                 {"btnCancelAll", TZipPasswordAnswer::CancelAll, ""}};
    for (const auto& c : cases) {
        TPasswordDialog dialog;
        dialog.show();
        dialog.Edit()->setText("typed");
        Button(dialog, c.button)->click();
        EXPECT_FALSE(dialog.isVisible()) << c.button;
        EXPECT_EQ(dialog.Reply().Answer, c.answer) << c.button;
        EXPECT_EQ(dialog.Reply().Password, c.password) << c.button;
    }
}

TEST(PasswordDialogTest, EntryIsCutAtEightyCharacters) {
    TPasswordDialog dialog;
    dialog.Edit()->setText(QString(100, 'x'));
    EXPECT_EQ(dialog.Edit()->text().size(), 80);
}

} // namespace
