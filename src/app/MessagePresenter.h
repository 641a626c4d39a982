#pragma once

#include <QString>

// Every modal message box of the program goes through one presenter, so tests can
// replace the real dialog with a recorder and never block on a modal box.
class MessagePresenter {
public:
    enum class Icon { Error, Information, Warning };

    virtual ~MessagePresenter() = default;
    virtual void ShowMessage(const QString& title, const QString& text, Icon icon) = 0;

    // The presenter in force; a QMessageBox one unless a test installed another.
    static MessagePresenter& Current();
    // Installs presenter (not owned); nullptr restores the real one.
    static void Install(MessagePresenter* presenter);
};

// Shows a real QMessageBox with an OK button.
class DialogMessagePresenter : public MessagePresenter {
public:
    void ShowMessage(const QString& title, const QString& text, Icon icon) override;
};
