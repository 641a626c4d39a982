// Download cases that rest on Unix: a symbolic link at the target's name, a file size limit
// that makes the disk refuse, and a target name that only Unix can hold.
#include "WebGetFixture.h"

#include <csignal>
#include <sys/resource.h>

namespace {
class WebGetUnixTest : public WebGetTest {};
} // namespace

TEST_F(WebGetUnixTest, NeverWritesThroughALinkAtTheTargetsName) {
    server.Route("/QLMUpdate.zip", TestRoute{.body = "zip"});
    QDir().mkpath(work);
    WriteFile(Beside("victim"), "precious");
    ASSERT_TRUE(QFile::link(Beside("victim"), Target("QLMUpdate.zip")));
    TWebGetItem& item = AddItem("/QLMUpdate.zip");
    get.Execute();
    EXPECT_FALSE(item.Done);
    EXPECT_EQ(ReadFile(Beside("victim")), "precious");
    EXPECT_EQ(errors, std::vector<int>{3});
}

TEST_F(WebGetUnixTest, WriteFailureRaisesAndLeavesNothingOpen) {
    server.Route("/QLMUpdate.zip", TestRoute{.body = Payload(200000)});
    AddItem("/QLMUpdate.zip");
    // The disk refuses everything past 64 KiB.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        get.Execute();
    } catch (const EInOutError& error) {
        raised = true;
        EXPECT_TRUE(QString(error.what()).contains("QLMUpdate.zip"));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(raised);
    EXPECT_FALSE(get.Executing());
    EXPECT_EQ(get.Dialog(), nullptr);
    EXPECT_FALSE(QFile::exists(Target("QLMUpdate.zip")));
}

TEST_F(WebGetUnixTest, QueryStringNameAndTrailingSeparator) {
    server.Route("/pkg.zip?v=3", TestRoute{.body = "zip"});
    TWebGetItem& item = AddItem("/pkg.zip?v=3");
    item.TargetDir = work + "/";
    get.Execute();
    EXPECT_TRUE(item.Done);
    EXPECT_EQ(ReadFile(Target("pkg.zip?v=3")), "zip");
}
