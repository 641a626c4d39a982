// Ending an unpacking early, as the window does when it is closed while Extract runs.
#include "ZipFixtures.h"

#include "archive/ZipMessages.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <functional>

namespace {

class ZipCancelTest : public ZipTest {
public:
    static constexpr int Members = 6;
    static constexpr int MemberSize = 300000; // several pieces of output per member

protected:
    QString Zeros() {
        return ws.PyZip("zeros.zip", QString("for i in range(%1):\n"
                                             "    z.writestr('m%d.bin' % i, bytes(%2), "
                                             "compress_type=zipfile.ZIP_DEFLATED)\n")
                                         .arg(Members)
                                         .arg(MemberSize));
    }

    QStringList NotFullSize() const {
        QStringList names;
        for (const QString& name : ws.BaseEntries())
            if (QFileInfo(ws.Base() + "/" + name).size() != MemberSize)
                names.append(name);
        return names;
    }

    void ExpectEveryFileWhole() const {
        const QByteArray whole(MemberSize, '\0');
        for (const QString& name : ws.BaseEntries())
            EXPECT_EQ(ws.ReadFile("sandbox/out/" + name), whole) << qPrintable(name);
    }
};

TEST_F(ZipCancelTest, CancelFromThePumpStopsInsideTheMemberAndRemovesIt) {
    zip.SetZipFileName(Zeros());
    ASSERT_EQ(zip.Count(), Members);

    // Fires on every pass of the pump; cancels once two members are done and another is
    // under way, then counts the passes the engine still makes.
    QString cutOff;
    int pumpsAfterCancel = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!cutOff.isEmpty()) {
            ++pumpsAfterCancel;
            return;
        }
        const QStringList partial = NotFullSize();
        if (ws.BaseEntries().size() >= 3 && partial.size() == 1) {
            cutOff = partial.first();
            zip.Cancel();
        }
    });
    watcher.start(0);
    const int rc = zip.Extract();
    watcher.stop();

    ASSERT_FALSE(cutOff.isEmpty()) << "no member was seen part-way";
    EXPECT_EQ(rc, ZipMsg::DllAborting);
    EXPECT_EQ(zip.ErrCode(), ZipMsg::DllAborting);
    EXPECT_TRUE(Boxes().isEmpty()) << qPrintable(BoxTexts().join('|'));
    EXPECT_EQ(pumpsAfterCancel, 0);
    const QStringList kept = ws.BaseEntries();
    EXPECT_FALSE(kept.contains(cutOff)) << qPrintable(cutOff);
    EXPECT_GE(kept.size(), 2);
    EXPECT_LT(kept.size(), Members);
    ExpectEveryFileWhole();
    EXPECT_EQ(ws.SandboxEntries(), QStringList({"out"}));

    // The next Extract, after another Cancel while idle, unpacks what is missing.
    zip.Cancel();
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(zip.SuccessCnt(), Members - kept.size());
    EXPECT_EQ(ws.BaseEntries().size(), Members);
    ExpectEveryFileWhole();
}

TEST_F(ZipCancelTest, CancelWhileIdleLeavesTheNextExtractAlone) {
    zip.Cancel();
    zip.SetZipFileName(Zeros());
    zip.Cancel();
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(zip.SuccessCnt(), Members);
    EXPECT_EQ(ws.BaseEntries().size(), Members);
    ExpectEveryFileWhole();
    EXPECT_TRUE(Boxes().isEmpty());
}

// A Cancel that arrives before the first member is written: nothing is, no box appears, and
// the engine makes no more passes of the pump than it needs to notice.
class ZipEarlyCancelTest;

struct EarlyCancelCase {
    const char* label;
    std::function<void(ZipEarlyCancelTest&)> arrange;
    int pumpsAfterCancel;
};

void PrintTo(const EarlyCancelCase& c, std::ostream* os) {
    *os << c.label;
}

class ZipEarlyCancelTest : public ZipCancelTest,
                           public ::testing::WithParamInterface<EarlyCancelCase> {
public:
    void BeforeTheFirstMember() {
        zip.SetZipFileName(Zeros());
        m_cancelAtFirstPump = true;
    }
    void WhileExtractReadsTheDirectory() {
        const QString path = Zeros();
        const QString later = ws.Path("later.zip");
        zip.SetZipFileName(later); // not there yet: no directory is read
        ASSERT_TRUE(QFile::rename(path, later));
        m_cancelAtFirstPump = true;
    }
    // The answer to a password request during which the window was closed.
    void InAPasswordRequest(TZipPasswordAnswer answer) {
        ws.WriteFile("enc/secret.bin", ExtImage());
        ws.Zip("enc.zip", {"-j", "-P", "s3cret", "enc/secret.bin"});
        zip.SetZipFileName(ws.Path("enc.zip"));
        zip.PasswordPrompt = [this, answer](const QString& member) {
            asked.append(member);
            CancelNow();
            return TZipPasswordReply{answer, "s3cret"};
        };
    }

protected:
    void CancelNow() {
        m_cancelSent = true;
        zip.Cancel();
    }

    bool m_cancelAtFirstPump = false;
    bool m_cancelSent = false;
    int m_pumpsAfterCancel = 0;
};

TEST_P(ZipEarlyCancelTest, NothingIsWrittenAndNoBoxShown) {
    GetParam().arrange(*this);
    Boxes().clear();
    QTimer watcher; // fires on every pass of the pump
    QObject::connect(&watcher, &QTimer::timeout, [this] {
        if (m_cancelSent)
            ++m_pumpsAfterCancel;
        else if (m_cancelAtFirstPump)
            CancelNow();
    });
    watcher.start(0);
    const int rc = zip.Extract();
    watcher.stop();

    ASSERT_TRUE(m_cancelSent);
    EXPECT_EQ(rc, ZipMsg::DllAborting);
    EXPECT_EQ(zip.ErrCode(), ZipMsg::DllAborting);
    EXPECT_TRUE(Boxes().isEmpty()) << qPrintable(BoxTexts().join('|'));
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
    EXPECT_LE(asked.size(), 1);
    EXPECT_EQ(m_pumpsAfterCancel, GetParam().pumpsAfterCancel);
}

INSTANTIATE_TEST_SUITE_P(
    When, ZipEarlyCancelTest,
    ::testing::Values(
        EarlyCancelCase{"BeforeTheFirstMember",
                        [](ZipEarlyCancelTest& t) { t.BeforeTheFirstMember(); }, 0},
        // The reader finishes the directory, pumping after each entry; nothing follows.
        EarlyCancelCase{"WhileExtractReadsTheDirectory",
                        [](ZipEarlyCancelTest& t) { t.WhileExtractReadsTheDirectory(); },
                        ZipCancelTest::Members - 1},
        // The dialog handled the event; the pass right after it notices.
        EarlyCancelCase{"InAPasswordRequestAnsweredOk",
                        [](ZipEarlyCancelTest& t) { t.InAPasswordRequest(TZipPasswordAnswer::Ok); },
                        1},
        // Cancel All alone would show "User Cancelled"; the window is closing.
        EarlyCancelCase{
            "InAPasswordRequestAnsweredCancelAll",
            [](ZipEarlyCancelTest& t) { t.InAPasswordRequest(TZipPasswordAnswer::CancelAll); }, 1}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
