#pragma once

#include "app/MessagePresenter.h"

#include <QList>
#include <QString>

// Records message boxes instead of showing them.
class RecordingPresenter : public MessagePresenter {
public:
    struct Box {
        QString title;
        QString text;
        Icon icon;
    };

    void ShowMessage(const QString& title, const QString& text, Icon icon) override;

    QList<Box> boxes;
};

// The recorder every test program installs at start; tests clear it as they need.
RecordingPresenter& TestPresenter();
