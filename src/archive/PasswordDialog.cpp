#include "archive/PasswordDialog.h"

#include "app/ErrorReport.h"
#include "archive/ZipMessages.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int MaxPasswordLength = 80;

// Masks typed characters with asterisks whatever the platform style prefers.
class AsteriskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TPasswordDialog::TPasswordDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ZipMessageText(ZipMsg::PasswordTitle));
    setModal(true);

    auto* label = new QLabel(ZipMessageText(ZipMsg::PasswordPrompt), this);
    m_edit = new QLineEdit(this);
    auto* style = new AsteriskStyle;
    style->setParent(m_edit);
    m_edit->setStyle(style);
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setMaxLength(MaxPasswordLength);
    label->setBuddy(m_edit);

    auto* ok = new QPushButton(ZipMessageText(ZipMsg::ButtonOK), this);
    auto* cancel = new QPushButton(ZipMessageText(ZipMsg::ButtonCancel), this);
    auto* cancelAll = new QPushButton(ZipMessageText(ZipMsg::ButtonCancelAll), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancelAll->setObjectName(QStringLiteral("btnCancelAll"));
    ok->setDefault(true);
    const auto answerWith = [this](TZipPasswordAnswer answer) {
        return [this, answer] {
            RunGuarded([&] {
                m_answer = answer;
                if (answer == TZipPasswordAnswer::Ok)
                    accept();
                else
                    reject();
            });
        };
    };
    connect(ok, &QPushButton::clicked, this, answerWith(TZipPasswordAnswer::Ok));
    connect(cancel, &QPushButton::clicked, this, answerWith(TZipPasswordAnswer::Cancel));
    connect(cancelAll, &QPushButton::clicked, this, answerWith(TZipPasswordAnswer::CancelAll));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(cancelAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    layout->addLayout(buttons);
}

TZipPasswordReply TPasswordDialog::Reply() const {
    TZipPasswordReply reply;
    reply.Answer = m_answer;
    if (m_answer == TZipPasswordAnswer::Ok)
        reply.Password = m_edit->text();
    return reply;
}

TZipPasswordReply TPasswordDialog::Ask(const QString& memberName) {
    Q_UNUSED(memberName);
    TPasswordDialog dialog(QApplication::activeWindow());
    dialog.exec();
    return dialog.Reply();
}
