#include "app/ErrorReport.h"
#include "app/Errors.h"
#include "support/RecordingPresenter.h"

#include <gtest/gtest.h>

TEST(ErrorReport, FullStopOnlyAfterCharactersSortingAfterThePoint) {
    struct Case {
        const char* message;
        const char* shown;
    } cases[] = {
        {"COM Port Error: Unable to open port on ttyUSB0",
         "COM Port Error: Unable to open port on ttyUSB0."},
        {"Already ends.", "Already ends."},
        {"Ends in a space ", "Ends in a space "},
        {"Ends in a digit 7", "Ends in a digit 7."},
        {"Ends in a comma,", "Ends in a comma,"},
        {"(bracket)", "(bracket)"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorReportText(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown))
            << c.message;
}

TEST(ErrorReport, GuardedOperationReportsEscapingErrorInOneErrorBox) {
    TestPresenter().boxes.clear();
    bool cleanedUp = false;
    RunGuarded([&] {
        struct Cleanup {
            bool& flag;
            ~Cleanup() { flag = true; }
        } cleanup{cleanedUp};
        throw EInOutError(QStringLiteral("Disk full"), 28);
    });
    EXPECT_TRUE(cleanedUp);
    ASSERT_EQ(TestPresenter().boxes.size(), 1);
    const auto& box = TestPresenter().boxes.front();
    EXPECT_EQ(box.title, QStringLiteral("Quillmoor Firmware Updater"));
    EXPECT_EQ(box.text, QStringLiteral("Disk full."));
    EXPECT_EQ(box.icon, MessagePresenter::Icon::Error);
}
