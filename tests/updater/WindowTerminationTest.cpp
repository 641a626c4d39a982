#include "app/MessagePresenter.h"
#include "archive/PasswordDialog.h"
#include "serial/TComComboBox.h"
#include "support/Pump.h"
#include "support/RecordingPresenter.h"
#include "support/TestFiles.h"
#include "updater/FirmwareFileOpener.h"
#include "updater/TFQLXUpdate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {
// A request to end the program (SIGTERM and the like) while a modal box waits for its user.
struct BoxCase {
    const char* name;
    // Opens the box and returns once it has been answered.
    std::function<void(TFQLXUpdate& window, const QString& files)> open;
};

class WindowTerminationTest : public ::testing::TestWithParam<BoxCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        TComSelect::SetPortSource([](QStringList& list) { list.clear(); });
        // The real boxes: what is tested is that they are answered.
        MessagePresenter::Install(nullptr);
        window = std::make_unique<TFQLXUpdate>();
        window->show();
    }
    void TearDown() override {
        MessagePresenter::Install(&TestPresenter());
        window->close();
        window.reset();
        TComSelect::SetPortSource(nullptr);
    }
    QTemporaryDir files;
    std::unique_ptr<TFQLXUpdate> window;
};

TEST_P(WindowTerminationTest, TheBoxIsCancelledThenTheWindowClosesAndLeavesNothing) {
    const QString work = window->WorkDirectory();
    ASSERT_TRUE(QFileInfo(work).isDir());
    bool boxWasOpen = false;
    QElapsedTimer sinceRequest;
    QTimer request;
    request.setSingleShot(true);
    QObject::connect(&request, &QTimer::timeout, [&] {
        boxWasOpen = QApplication::activeModalWidget() != nullptr;
        sinceRequest.start();
        window->TerminationRequest();
    });
    request.start(300);
    // Should the request not answer the box, the test must not wait for a user either.
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [] {
        for (QWidget* box : QApplication::topLevelWidgets())
            if (box->isModal() && box->isVisible())
                box->close();
    });
    rescue.start(5000);

    GetParam().open(*window, files.path());

    EXPECT_TRUE(boxWasOpen);
    ASSERT_TRUE(sinceRequest.isValid()) << "the box returned before the request";
    EXPECT_LT(sinceRequest.elapsed(), 2000) << "the box was not cancelled";
    // Whatever opened the box has unwound before the window closes.
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(PumpUntil([&] { return !window->isVisible(); }, 2000));
    EXPECT_LT(sinceRequest.elapsed(), 2000);
    EXPECT_FALSE(QFileInfo::exists(work));
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, WindowTerminationTest,
    ::testing::Values(
        // The ZIP component's error box for a refused package, in the middle of a load.
        BoxCase{"ZipErrorBox",
                [](TFQLXUpdate& window, const QString& files) {
                    const QString package = files + "/QLMUpdate.zip";
                    WriteFile(package, QByteArray(5000, 'x'));
                    EXPECT_FALSE(window.LoadFirmwareFiles({package}));
                }},
        BoxCase{"FileDialog",
                [](TFQLXUpdate& window, const QString&) { window.FileOpener().Open(); }},
        BoxCase{"PasswordDialog",
                [](TFQLXUpdate&, const QString&) {
                    EXPECT_EQ(TPasswordDialog::Ask("QLM_OS.bin").Answer,
                              TZipPasswordAnswer::Cancel);
                }}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });
} // namespace
