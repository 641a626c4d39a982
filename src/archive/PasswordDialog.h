#pragma once

#include "archive/ZipPassword.h"

#include <QDialog>

class QLineEdit;

// The modal dialog that asks for an encrypted member's password.
class TPasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordDialog(QWidget* parent = nullptr);

    QLineEdit* Edit() const { return m_edit; }
    // The answer once the dialog is closed; Cancel when it was closed any other way.
    TZipPasswordReply Reply() const;

    // Shows the dialog modally and gives the user's answer.
    static TZipPasswordReply Ask(const QString& memberName);

private:
    QLineEdit* m_edit;
    TZipPasswordAnswer m_answer = TZipPasswordAnswer::Cancel;
};
