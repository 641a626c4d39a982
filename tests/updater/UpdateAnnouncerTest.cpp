#include "updater/UpdateAnnouncer.h"
#include "DesktopRecorders.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

class UpdateAnnouncerTest : public ::testing::Test {
protected:
    std::shared_ptr<DesktopLog> log = std::make_shared<DesktopLog>();
    std::optional<UpdateAnnouncer> announcer{std::in_place, std::make_unique<RecordingTaskbar>(log),
                                             std::make_unique<RecordingNotice>(log)};
};

// One update from its start to its end, as the window reports it.
struct EndingCase {
    const char* label;
    QList<FlashNote> notes;
    bool stopAsked;
    bool updated;
    const char* error;
    bool windowActive;
    const char* summary; // nullptr: no notification
    const char* body;
    const char* taskbarEnd;
};

class UpdateEndingTest : public UpdateAnnouncerTest,
                         public ::testing::WithParamInterface<EndingCase> {};

TEST_P(UpdateEndingTest, ShowsTheEndOutsideTheWindowOnlyToAUserWhoIsElsewhere) {
    const EndingCase& c = GetParam();
    announcer->Started();
    announcer->Progressed(300, 1000);
    for (FlashNote note : c.notes)
        announcer->Noted(note);
    if (c.stopAsked)
        announcer->StopAsked();
    announcer->Ended(c.updated, QString::fromUtf8(c.error), c.windowActive);

    EXPECT_EQ(log->taskbar, (QStringList{"0", "30", c.taskbarEnd}));
    if (!c.summary) {
        EXPECT_TRUE(log->notices.isEmpty());
    } else {
        ASSERT_EQ(log->notices.size(), 1);
        EXPECT_EQ(log->notices[0].summary, c.summary);
        EXPECT_EQ(log->notices[0].body, c.body);
        EXPECT_EQ(log->notices[0].failure, c.summary != QStringLiteral("Quillmoor updated"));
    }
    EXPECT_EQ(log->withdrawn, 0);
    EXPECT_FALSE(announcer->Running());
}

const char* const Updated = "Quillmoor updated";
const char* const Failed = "Quillmoor update failed";

INSTANTIATE_TEST_SUITE_P(
    Endings, UpdateEndingTest,
    ::testing::Values(
        EndingCase{"UpdatedElsewhere",
                   {},
                   false,
                   true,
                   "",
                   false,
                   Updated,
                   "Both firmware images are in the device.",
                   "clear"},
        EndingCase{"UpdatedInFront", {}, false, true, "", true, nullptr, nullptr, "clear"},
        // An EOT that went unacknowledged does not fail the update; a stop that came too late
        // to stop it neither.
        EndingCase{"UpdatedUnconfirmedAfterALateStop",
                   {FlashNote::Unconfirmed},
                   true,
                   true,
                   "",
                   false,
                   Updated,
                   "Both firmware images are in the device.",
                   "clear"},
        EndingCase{
            "Stopped", {}, true, false, "", false, Failed, "The update was stopped.", "failure"},
        // The device's CAN ends in "- ABORTED -" like a stop, but nobody asked for it.
        EndingCase{"CancelledByTheDevice",
                   {FlashNote::CancelledByDevice},
                   false,
                   false,
                   "",
                   false,
                   Failed,
                   "The device cancelled the transfer.",
                   "failure"},
        EndingCase{"TimedOut",
                   {FlashNote::Unconfirmed, FlashNote::TimedOut},
                   false,
                   false,
                   "",
                   false,
                   Failed,
                   "The device stopped answering (time-out).",
                   "failure"},
        EndingCase{"NotRestarted",
                   {FlashNote::NotRestarted},
                   false,
                   false,
                   "",
                   false,
                   Failed,
                   "The device did not restart after the OS image.",
                   "failure"},
        EndingCase{"ImageRefused",
                   {FlashNote::ImageRefused, FlashNote::TimedOut},
                   false,
                   false,
                   "",
                   false,
                   Failed,
                   "The firmware file is corrupt.",
                   "failure"},
        // The error's text as its box shows it.
        EndingCase{"Error",
                   {FlashNote::TimedOut},
                   true,
                   false,
                   "COM Port Error: no such device on /dev/ttyUSB0",
                   false,
                   Failed,
                   "COM Port Error: no such device on /dev/ttyUSB0.",
                   "failure"},
        EndingCase{"NothingLearned",
                   {},
                   false,
                   false,
                   "",
                   false,
                   Failed,
                   "The update did not finish.",
                   "failure"},
        // Whoever watches the window sees the failure there; the entry is cleared.
        EndingCase{"FailedInFront",
                   {FlashNote::TimedOut},
                   false,
                   false,
                   "",
                   true,
                   nullptr,
                   nullptr,
                   "clear"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(UpdateAnnouncerTest, ProgressMovesOncePerWholePercentAndNeverBack) {
    announcer->Progressed(10, 100); // no update runs
    announcer->Started();
    // The restart between the images puts the window's bar back to 0; the whole update's
    // progress stays where it was.
    for (qint64 done : {0, 4, 5, 6, 14, 15, 50, 40, 994, 996, 1000, 1200})
        announcer->Progressed(done, 1000);
    announcer->Progressed(5, 0);
    EXPECT_EQ(log->taskbar, (QStringList{"0", "1", "2", "5", "99", "100"}));
}

TEST_F(UpdateAnnouncerTest, NothingIsShownForAnUpdateThatNeverBegan) {
    announcer->Noted(FlashNote::TimedOut);
    announcer->StopAsked();
    announcer->Ended(false, QStringLiteral("COM Port Error: in use"), false);
    announcer->WindowActivated();
    EXPECT_TRUE(log->taskbar.isEmpty());
    EXPECT_TRUE(log->notices.isEmpty());
    EXPECT_EQ(log->withdrawn, 0);
    // Notes and stops of a refused update do not stay for the next one.
    announcer->Started();
    announcer->Ended(true, {}, false);
    ASSERT_EQ(log->notices.size(), 1);
    EXPECT_EQ(log->notices[0].summary, Updated);
}

TEST_F(UpdateAnnouncerTest, BackInTheWindowTheFailureAndTheNotificationAreTakenBack) {
    announcer->Started();
    announcer->Noted(FlashNote::CancelledByDevice);
    announcer->Ended(false, {}, false);
    announcer->WindowActivated();
    EXPECT_EQ(log->taskbar, (QStringList{"0", "failure", "clear"}));
    EXPECT_EQ(log->withdrawn, 1);
    announcer->WindowActivated();
    EXPECT_EQ(log->taskbar.size(), 3);
    EXPECT_EQ(log->withdrawn, 1);

    // The next update starts afresh; a notification still out is taken back first.
    announcer->Started();
    announcer->StopAsked();
    announcer->Ended(true, {}, false);
    announcer->Started();
    EXPECT_EQ(log->withdrawn, 2);
    announcer->Noted(FlashNote::NotRestarted);
    announcer->Ended(false, {}, false);
    ASSERT_EQ(log->notices.size(), 3);
    EXPECT_EQ(log->notices[1].summary, Updated);
    EXPECT_EQ(log->notices[2].body, "The device did not restart after the OS image.");
    EXPECT_EQ(log->taskbar.mid(3), (QStringList{"0", "clear", "0", "failure"}));
}

TEST_F(UpdateAnnouncerTest, GoingAwayClearsWhatTheTaskbarStillShows) {
    announcer->Started();
    announcer->Progressed(1, 2);
    announcer.reset(); // the window closed during the update
    EXPECT_EQ(log->taskbar, (QStringList{"0", "50", "clear"}));

    auto idleLog = std::make_shared<DesktopLog>();
    {
        UpdateAnnouncer idle(std::make_unique<RecordingTaskbar>(idleLog),
                             std::make_unique<RecordingNotice>(idleLog));
    }
    EXPECT_TRUE(idleLog->taskbar.isEmpty()); // nothing shown, nothing to clear
}

} // namespace
