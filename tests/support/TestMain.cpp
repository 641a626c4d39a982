#include "support/RecordingPresenter.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every test program runs with a QApplication (headless unless a display is asked for)
// and with message boxes recorded, so no test can block on a modal dialog.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A temporary folder of this test program's own, so programs running side by side never
    // share (and remove) each other's work directory.
    QTemporaryDir privateTemp(QDir::tempPath() + QStringLiteral("/qlm-test-XXXXXX"));
    if (privateTemp.isValid()) {
        const QByteArray path = QFile::encodeName(QDir::toNativeSeparators(privateTemp.path()));
        qputenv("TMPDIR", path);
        // Windows takes its temporary folder from these.
        qputenv("TMP", path);
        qputenv("TEMP", path);
    }
    // Nothing in a test may reach past this machine: the update server is a closed local
    // port unless a test starts its own.
    if (qEnvironmentVariableIsEmpty("QLM_UPDATE_SERVER"))
        qputenv("QLM_UPDATE_SERVER", "http://127.0.0.1:9");
    QApplication app(argc, argv);
    MessagePresenter::Install(&TestPresenter());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
