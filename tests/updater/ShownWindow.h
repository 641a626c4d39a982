#pragma once

#include "serial/TComComboBox.h"
#include "updater/TFQLXUpdate.h"

#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

// The window shown with one port listed, for tests that look at it as a user or a screen
// reader does.
class ShownWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TComSelect::SetPortSource([](QStringList& list) { list = {"/dev/ttyUSB0"}; });
        window = std::make_unique<TFQLXUpdate>();
        window->show();
    }
    void TearDown() override {
        window->close();
        window.reset();
        TComSelect::SetPortSource(nullptr);
    }
    QWidget* Find(const char* name) {
        auto* found = window->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    std::unique_ptr<TFQLXUpdate> window;
};
