#include "WebTestSupport.h"
#include "support/TestHttpServer.h"

#include "app/EventPump.h"
#include "web/UpdateServer.h"
#include "web/WebText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
class WebTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(temp.isValid());
        savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
    }
    void TearDown() override {
        // Nothing may be left in the temporary folder.
        EXPECT_TRUE(
            QDir(temp.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        qputenv("TMPDIR", savedTmp);
    }
    TWebTextItem& AddItem(const QString& path) {
        TWebTextItem& item = web.Data.Add();
        item.URL = server.Url(path);
        return item;
    }

    TestHttpServer server;
    QTemporaryDir temp;
    QByteArray savedTmp;
    TWebText web;
};

QString UnusedPortUrl() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/x").arg(port);
}
} // namespace

TEST_F(WebTextTest, ResponsesDecideTextAndFound) {
    const QByteArray version = "QLM firmware\r\nV2.07\r\n";
    TestRoute ok{.body = version};
    TestRoute noLength{.body = version, .sendLength = false};
    TestRoute missing{.status = 404, .body = "gone"};
    TestRoute serverError{.status = 500, .body = "maintenance\n"};
    TestRoute moved{.status = 301, .location = "/final"};
    TestRoute found{.status = 302, .location = "/final"};
    TestRoute empty{.body = ""};
    TestRoute truncated{.body = "partial", .announcedLength = 5000};
    // A version file is short: a longer body is no answer, whether or not it states a length.
    const QByteArray atLimit(TWebText::MaxBodyBytes, 'v');
    TestRoute limit{.body = atLimit};
    TestRoute overLimit{.body = atLimit + "v"};
    TestRoute overUnsized{.body = atLimit + "v", .sendLength = false};
    TestRoute endless{.endless = true};
    server.Route("/final", ok);

    struct Case {
        const char* path;
        TestRoute route;
        bool found;
        QByteArray text; // expected Text ("old" stands for the value before)
        int errorCode;   // 0: no error callback
    } cases[] = {
        {"/ok", ok, true, version, 0},
        {"/nolength", noLength, true, version, 0},
        {"/missing", missing, false, "old", 404},
        // An error page is no version file.
        {"/error500", serverError, false, "old", 500},
        {"/moved", moved, true, version, 0},
        {"/found", found, true, version, 0},
        {"/empty", empty, false, "old", 0},
        {"/truncated", truncated, true, "partial", 0},
        {"/at-limit", limit, true, atLimit, 0},
        {"/over-limit", overLimit, false, "old", 0},
        {"/over-unsized", overUnsized, false, "old", 0},
        {"/endless", endless, false, "old", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server.Route(c.path, c.route);
        web.Data.Clear();
        TWebTextItem& item = AddItem(c.path);
        item.Text = "old";
        item.Found = true;
        int errorCode = 0;
        web.OnCollectError = [&](TWebText&, int index, int code) {
            EXPECT_EQ(index, 0);
            errorCode = code;
        };
        EXPECT_EQ(web.Collect(), c.found);
        EXPECT_EQ(web.Data.Count(), 1);
        EXPECT_EQ(item.Found, c.found);
        EXPECT_EQ(item.Text.toLatin1(), c.text);
        EXPECT_EQ(errorCode, c.errorCode);
    }
}

TEST_F(WebTextTest, UnreachableServerIsReportedNotRaised) {
    TWebTextItem& item = web.Data.Add();
    item.URL = UnusedPortUrl();
    int errorCode = 0;
    web.OnCollectError = [&](TWebText&, int, int code) { errorCode = code; };
    EXPECT_FALSE(web.Collect());
    EXPECT_EQ(errorCode, -1);
    EXPECT_EQ(web.Data.Count(), 1);
    EXPECT_TRUE(web.Data[0].Text.isEmpty());
}

TEST_F(WebTextTest, BytesKeptExactly) {
    QByteArray body;
    for (int i = 0; i < 256; ++i)
        body.append(static_cast<char>(i));
    body = body.repeated(40); // several pieces
    server.Route("/bin", TestRoute{.body = body});
    AddItem("/bin");
    ASSERT_TRUE(web.Collect());
    EXPECT_EQ(web.Data[0].Text.toLatin1(), body);
}

TEST_F(WebTextTest, Markers) {
    server.Route("/page", TestRoute{.body = "<h>head</h><v>skip<b>KEEP</b> tail <b>not</b>"});
    struct Case {
        const char* first;
        const char* from;
        const char* to;
        bool found;
        const char* text;
    } cases[] = {
        {"<v>", "<b>", "</b>", true, "KEEP"},
        {"<h>", "", "</h>", true, "head"},
        {"<h>", "", "", true, "head</h><v>skip<b>KEEP</b> tail <b>not</b>"},
        {"<V>", "<b>", "</b>", false, ""}, // case matters
        {"<v>", "<x>", "</b>", false, ""}, // second marker absent
        {"<v>", "<b>", "</x>", false, ""}, // end marker absent
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + std::string(c.from) + c.to);
        web.Data.Clear();
        TWebTextItem& item = AddItem("/page");
        item.Text = "old";
        item.ScanFirst = c.first;
        item.ScanFrom = c.from;
        item.ScanTo = c.to;
        EXPECT_EQ(web.Collect(), c.found);
        EXPECT_EQ(item.Found, c.found);
        // Fetched but not found: the text is emptied.
        EXPECT_EQ(item.Text, c.text);
    }
}

TEST_F(WebTextTest, SameAddressFetchedOnceCallbacksInOrder) {
    server.Route("/page", TestRoute{.body = "a=1;b=2;"});
    TWebTextItem& a = AddItem("/page");
    a.ScanFirst = "a=";
    a.ScanTo = ";";
    TWebTextItem& b = AddItem("/page");
    b.ScanFirst = "b=";
    b.ScanTo = ";";
    QStringList events;
    web.OnProgress = [&](TWebText&, int i) { events << QStringLiteral("progress %1").arg(i); };
    web.OnData = [&](TWebText&, int i, const QString& data) {
        events << QStringLiteral("data %1 %2").arg(i).arg(data);
    };
    EXPECT_TRUE(web.Collect());
    EXPECT_EQ(server.Hits("/page"), 1);
    EXPECT_EQ(a.Text, "1");
    EXPECT_EQ(b.Text, "2");
    EXPECT_EQ(events, QStringList({"progress 0", "data 0 1", "progress 1", "data 1 2"}));

    // The next Collect fetches again: nothing is cached.
    EXPECT_TRUE(web.Collect());
    EXPECT_EQ(server.Hits("/page"), 2);
    EXPECT_EQ(server.LastHeader("/page", "user-agent"), "WebText");
}

TEST_F(WebTextTest, DisabledItemAndEmptyCollection) {
    EXPECT_TRUE(web.Collect());
    server.Route("/page", TestRoute{.body = "new"});
    TWebTextItem& on = AddItem("/page");
    TWebTextItem& off = AddItem("/other");
    off.Enable = false;
    off.Text = "kept";
    off.Found = true;
    EXPECT_FALSE(web.Collect());
    EXPECT_TRUE(on.Found);
    EXPECT_FALSE(off.Found);
    EXPECT_EQ(off.Text, "kept");
    EXPECT_EQ(server.Hits("/other"), 0);
}

TEST_F(WebTextTest, VersionFileFromConfiguredServerWhileNotReentered) {
    const QByteArray saved = qgetenv("QLM_UPDATE_SERVER");
    qputenv("QLM_UPDATE_SERVER", server.BaseUrl().toLatin1());
    server.Route(UpdateServer::VersionFilePath,
                 TestRoute{.body = "Quillmoor\n1.05\n", .trickleMs = 5, .trickleBytes = 4});
    TWebTextItem& item = web.Data.Add();
    item.URL = UpdateServer::VersionFileUrl();
    // A second Collect started by an event while the first runs does nothing.
    bool nested = true;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        nested = web.Collect();
        EXPECT_TRUE(web.Collecting());
    });
    timer.start(2);
    EXPECT_TRUE(web.Collect());
    timer.stop();
    EXPECT_FALSE(web.Collecting());
    EXPECT_GT(ticks, 0);
    EXPECT_FALSE(nested);
    EXPECT_EQ(item.Text, "Quillmoor\n1.05\n");
    EXPECT_EQ(server.Hits(UpdateServer::VersionFilePath), 1);
    qputenv("QLM_UPDATE_SERVER", saved);
}

TEST_F(WebTextTest, TricklingServerFailsAtTheDeadlineLikeAnUnreachableOne) {
    // One byte every 50 ms would never trip the inactivity limit.
    server.Route("/slow", TestRoute{.body = QByteArray(1000, 's'), .trickleMs = 50});
    AddItem("/slow");
    web.DeadlineMs = 400;
    int errorCode = 0;
    web.OnCollectError = [&](TWebText&, int, int code) { errorCode = code; };
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(web.Collect());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(errorCode, -1);
    EXPECT_TRUE(web.Data[0].Text.isEmpty());
}

TEST_F(WebTextTest, CancelEndsARunningCollect) {
    server.Route("/stalled", TestRoute{.body = "Quillmoor\n1.05\n", .trickleMs = 60000});
    server.Route("/next", TestRoute{.body = "next"});
    AddItem("/stalled");
    AddItem("/next");
    QTimer::singleShot(100, [this] { web.Cancel(); });
    EXPECT_FALSE(web.Collect());
    EXPECT_FALSE(web.Data[0].Found);
    EXPECT_FALSE(web.Data[1].Found);
    EXPECT_EQ(server.Hits("/next"), 0); // the rest never starts
}
