#include "web/TransferDialog.h"
#include "web/TransferAnimation.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(TransferAnimation, OwnPictureSequence) {
    const QList<QImage>& frames = TTransferAnimation::Frames();
    ASSERT_EQ(frames.size(), 31);
    for (const QImage& frame : frames) {
        EXPECT_EQ(frame.size(), QSize(272, 60));
        // The backdrop is see-through.
        EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0);
    }
    // The sheet moves: every frame differs from the one before.
    for (int i = 1; i < frames.size(); ++i)
        EXPECT_NE(frames[i], frames[i - 1]) << i;

    TTransferAnimation animation;
    animation.Play();
    EXPECT_TRUE(animation.Playing());
    animation.Stop();
    EXPECT_FALSE(animation.Playing());
}

TEST(TransferDialog, LayoutFollowsSettings) {
    struct Case {
        bool fileName, time;
        int progressY, buttonY;
    } cases[] = {
        {true, false, 100, 140},
        {false, false, 80, 120},
        {true, true, 100, 160},
        {false, true, 80, 140},
    };
    for (const Case& c : cases) {
        TTransferDialogSettings settings;
        settings.ShowFileName = c.fileName;
        settings.ShowTime = c.time;
        TTransferDialog dialog(settings);
        SCOPED_TRACE(c.buttonY);
        EXPECT_EQ(dialog.width(), 300);
        EXPECT_EQ(dialog.ProgressLine()->y(), c.progressY);
        EXPECT_EQ(dialog.RateLine()->y(), c.progressY + 20);
        EXPECT_EQ(dialog.CancelButton()->geometry(), QRect(215, c.buttonY, 75, 25));
        EXPECT_EQ(dialog.FileLine()->isVisibleTo(&dialog), c.fileName);
        EXPECT_EQ(dialog.TimeLine()->isVisibleTo(&dialog), c.time);
        EXPECT_GT(dialog.height(), c.buttonY + 25);
    }
}

TEST(TransferDialog, NonModalOnTopWithoutTitleButtons) {
    TTransferDialog dialog{TTransferDialogSettings()};
    EXPECT_EQ(dialog.windowTitle(), "Downloading ...");
    EXPECT_FALSE(dialog.isModal());
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowSystemMenuHint));
    EXPECT_TRUE(dialog.Animation()->Playing());
    EXPECT_EQ(dialog.Animation()->geometry(), QRect(10, 0, 272, 60));
    EXPECT_EQ(dialog.ProgressBar()->geometry(), QRect(10, 60, 280, 12));
    dialog.ShowCentred();
    EXPECT_TRUE(dialog.isVisible());
}

TEST(TransferDialog, FileLine) {
    TTransferDialogSettings settings;
    TTransferDialog dialog(settings);
    dialog.SetFileLine(1, 1, 1, "QLMUpdate.zip", "updates.example:8080");
    EXPECT_EQ(dialog.FileLine()->text(), "File : QLMUpdate.zip from updates.example:8080");
    dialog.SetFileLine(2, 3, 3, "b.bin", "host");
    EXPECT_EQ(dialog.FileLine()->text(), "File : 2 of 3 : b.bin from host");

    settings.ShowServer = false;
    TTransferDialog quiet(settings);
    quiet.SetFileLine(1, 1, 1, "QLMUpdate.zip", "host");
    EXPECT_EQ(quiet.FileLine()->text(), "File : QLMUpdate.zip");
}

TEST(TransferDialog, ProgressTexts) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TTransferDialogSettings settings;
    settings.ShowTime = true;
    settings.ShowCompletion = true;
    TTransferDialog dialog(settings);
    dialog.StartDownload();

    dialog.ShowProgress(1500, 3000, 999);
    EXPECT_EQ(dialog.ProgressBar()->value(), 50);
    EXPECT_EQ(dialog.ProgressLine()->text(), "Progress : 1.50 Kb of 3.00 Kb");
    EXPECT_EQ(dialog.RateLine()->text(), "Transfer rate : 1.50 Kb/sec");
    EXPECT_EQ(dialog.TimeLine()->text(), "Estimated time left : 1 sec.");
    EXPECT_EQ(dialog.windowTitle(), "Downloading : 50% completed");

    // More than announced: the bar stops at 100.
    dialog.ShowProgress(4000, 3000, 2000);
    EXPECT_EQ(dialog.ProgressBar()->value(), 100);

    TTransferDialog unknown(settings);
    unknown.ShowProgress(2500000, 0, 1000);
    EXPECT_EQ(unknown.ProgressBar()->value(), 0);
    EXPECT_EQ(unknown.ProgressLine()->text(), "Progress : 2.50 Mb");
    EXPECT_EQ(unknown.TimeLine()->text(), "Estimated time left : ");

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TTransferDialog comma(settings);
    comma.ShowProgress(1500, 0, 999);
    EXPECT_EQ(comma.ProgressLine()->text(), "Progress : 1,50 Kb");
    QLocale::setDefault(QLocale::c());
}

TEST(TransferDialog, TextsRefreshAtMostPerFrameWhileTheBarStands) {
    TTransferDialog dialog{TTransferDialogSettings()};
    dialog.ShowProgress(100, 0, 0);
    dialog.ShowProgress(200, 0, 10);
    EXPECT_EQ(dialog.ProgressLine()->text(), "Progress : 100 bytes");
    dialog.ShowProgress(300, 0, 70);
    EXPECT_EQ(dialog.ProgressLine()->text(), "Progress : 300 bytes");
}

TEST(TransferDialog, CancelHidesAndRaisesOnce) {
    TTransferDialog dialog{TTransferDialogSettings()};
    int raised = 0;
    dialog.OnCancel = [&] { ++raised; };
    dialog.ShowCentred();
    dialog.CancelButton()->click();
    EXPECT_EQ(raised, 1);
    EXPECT_TRUE(dialog.Cancelled());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.Animation()->Playing());

    // Escape or the desktop's close also cancel.
    TTransferDialog other{TTransferDialogSettings()};
    other.ShowCentred();
    other.reject();
    EXPECT_TRUE(other.Cancelled());
}
