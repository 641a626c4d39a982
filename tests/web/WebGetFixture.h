#pragma once

#include "WebTestSupport.h"
#include "support/TestFiles.h"
#include "support/TestHttpServer.h"

#include "app/Errors.h"
#include "app/FileUtils.h"
#include "web/TransferDialog.h"
#include "web/UpdateServer.h"
#include "web/WebGet.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

// The download component against the local server, with a work folder of its own.
namespace {
[[maybe_unused]] QByteArray Payload(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return data;
}

[[maybe_unused]] int TransferDialogsAlive() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<TTransferDialog*>(widget) ? 1 : 0;
    return count;
}

class WebGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(temp.isValid());
        work = QDir::toNativeSeparators(temp.path()) + PathSeparator() + "QLMUpdate";
        get.OnError = [this](TWebGet&, int code) { errors.push_back(code); };
        get.OnErrorInfo = [this](TWebGet&, int, const QString& info) { infos << info; };
        get.OnURLNotFound = [this](TWebGet&, const QString& url) { notFound << url; };
    }
    void TearDown() override { EXPECT_EQ(TransferDialogsAlive(), 0); }

    // A file in the work folder, named as the component names it.
    QString Target(const QString& name) const { return AddBackslash(work) + name; }
    // A file beside the work folder.
    QString Beside(const QString& name) const {
        return AddBackslash(QDir::toNativeSeparators(temp.path())) + name;
    }

    TWebGetItem& AddItem(const QString& path) {
        TWebGetItem& item = get.Items.Add();
        item.URL = server.Url(path);
        item.TargetDir = work;
        return item;
    }

    TestHttpServer server;
    QTemporaryDir temp;
    QString work;
    TWebGet get;
    // A standard vector: comparing two empty QLists hands memcmp a null pointer.
    std::vector<int> errors;
    QStringList infos;
    QStringList notFound;
};
} // namespace
