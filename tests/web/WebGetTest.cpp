#include "WebGetFixture.h"
#include "support/HostProcess.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

TEST_F(WebGetTest, PackageFromConfiguredServerWithDialog) {
    const QByteArray package = Payload(300000);
    qputenv("QLM_UPDATE_SERVER", server.BaseUrl().toLatin1());
    server.Route(UpdateServer::PackagePath, TestRoute{.body = package});
    TWebGetItem& item = get.Items.Add();
    item.URL = UpdateServer::PackageUrl();
    item.TargetDir = work; // missing: created

    bool shownBefore = false;
    QString fileLine;
    QString title;
    bool visible = true;
    uint64_t last = 0;
    bool piecesSmall = true;
    int maxBar = 0;
    get.OnBeforeDialogShow = [&](TWebGet& sender, TTransferDialog& dialog) {
        shownBefore = !dialog.isVisible() && sender.Dialog() == &dialog;
    };
    get.OnCopyProgress = [&](TWebGet& sender, int fileidx, uint64_t size, uint64_t total) {
        EXPECT_EQ(fileidx, 1);
        EXPECT_EQ(total, uint64_t(package.size()));
        piecesSmall = piecesSmall && size - last <= 4096;
        last = size;
        visible = visible && sender.Dialog()->isVisible();
        fileLine = sender.Dialog()->FileLine()->text();
        title = sender.Dialog()->windowTitle();
        maxBar = std::max(maxBar, sender.Dialog()->ProgressBar()->value());
    };
    QStringList order;
    get.OnFileStart = [&](TWebGet&, int idx) { order << QStringLiteral("start %1").arg(idx); };
    get.OnFileDone = [&](TWebGet&, int idx) { order << QStringLiteral("done %1").arg(idx); };
    get.OnCopyDone = [&](TWebGet& sender) {
        order << "copy done";
        EXPECT_EQ(sender.Dialog(), nullptr);
    };

    get.Execute();
    qunsetenv("QLM_UPDATE_SERVER");

    EXPECT_TRUE(item.Done);
    EXPECT_EQ(ReadFile(Target("QLMUpdate.zip")), package);
    EXPECT_TRUE(shownBefore);
    EXPECT_TRUE(visible);
    EXPECT_TRUE(piecesSmall);
    EXPECT_EQ(last, uint64_t(package.size()));
    EXPECT_EQ(maxBar, 100);
    EXPECT_EQ(fileLine,
              QStringLiteral("File : QLMUpdate.zip from 127.0.0.1:%1").arg(server.Port()));
    EXPECT_EQ(title, "Downloading ...");
    EXPECT_EQ(order, QStringList({"start 0", "done 0", "copy done"}));
    EXPECT_EQ(get.Dialog(), nullptr);
    EXPECT_FALSE(get.Executing());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(get.LastTargetFile(), Target("QLMUpdate.zip"));
    EXPECT_EQ(server.LastHeader(UpdateServer::PackagePath, "user-agent"), "WebGet");
    EXPECT_EQ(server.LastHeader(UpdateServer::PackagePath, "authorization"), "");
}

TEST_F(WebGetTest, RefusedStatusLeavesExistingTargetUntouched) {
    for (int status : {404, 500, 401, 300}) {
        SCOPED_TRACE(status);
        errors.clear();
        infos.clear();
        const QString path = QStringLiteral("/s%1/QLMUpdate.zip").arg(status);
        server.Route(path, TestRoute{.status = status, .body = "refused"});
        QDir().mkpath(work);
        WriteFile(Target("QLMUpdate.zip"), "earlier package");
        get.Items.Clear();
        TWebGetItem& item = AddItem(path);
        item.Done = true;
        get.Execute();
        EXPECT_FALSE(item.Done);
        EXPECT_EQ(ReadFile(Target("QLMUpdate.zip")), "earlier package");
        EXPECT_EQ(errors, std::vector<int>{status});
        EXPECT_EQ(infos, QStringList{QStringLiteral("Returned http error code %1").arg(status)});
    }
}

TEST_F(WebGetTest, OutcomesByResponse) {
    const QByteArray body = Payload(10000);
    server.Route("/real/other-name.bin", TestRoute{.body = body});
    get.MaxUnsizedBytes = 50000;
    struct Case {
        const char* path;
        TestRoute route;
        bool done;
        QByteArray file;
        std::vector<int> errors;
    } cases[] = {
        {"/a/QLMUpdate.zip", TestRoute{.body = body}, true, body, {}},
        {"/b/QLMUpdate.zip", TestRoute{.body = body, .sendLength = false}, true, body, {}},
        {"/c/QLMUpdate.zip",
         TestRoute{.status = 302, .location = "/real/other-name.bin"},
         true,
         body,
         {}},
        {"/d/QLMUpdate.zip",
         TestRoute{.status = 301, .location = "/real/other-name.bin"},
         true,
         body,
         {}},
        {"/e/QLMUpdate.zip", TestRoute{.body = ""}, false, "", {}},
        // Bodies that are not the file the server announced leave nothing behind.
        {"/short/QLMUpdate.zip",
         TestRoute{.body = body.left(5000), .announcedLength = 10000},
         false,
         "<missing>",
         {4}},
        {"/long/QLMUpdate.zip",
         TestRoute{.body = body, .announcedLength = 5000, .chunked = true},
         false,
         "<missing>",
         {4}},
        {"/endless/QLMUpdate.zip", TestRoute{.endless = true}, false, "<missing>", {4}},
        {"/chunked/QLMUpdate.zip",
         TestRoute{.body = body, .sendLength = false, .chunked = true},
         true,
         body,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server.Route(c.path, c.route);
        QDir().mkpath(work);
        // An existing package is replaced without a question.
        WriteFile(Target("QLMUpdate.zip"), "earlier package");
        get.Items.Clear();
        errors.clear();
        TWebGetItem& item = AddItem(c.path);
        get.Execute();
        EXPECT_EQ(item.Done, c.done);
        EXPECT_EQ(ReadFile(Target("QLMUpdate.zip")), c.file);
        EXPECT_EQ(errors, c.errors);
        EXPECT_FALSE(QFile::exists(Target("other-name.bin")));
    }
}

TEST_F(WebGetTest, ServersBelowTheFloorFailAsDownloads) {
    // A short floor; every stalled server below would otherwise keep the download for hours.
    get.Floor = TransferFloor{.windowMs = 1000, .minBytes = 1024};
    get.DialogSettings.ShowDialog = false;
    const QByteArray body = Payload(40000);
    struct Case {
        const char* path;
        TestRoute route;
        bool done;
    } cases[] = {
        // Well above the floor, in pieces: every window brings plenty.
        {"/steady/QLMUpdate.zip", TestRoute{.body = body, .trickleMs = 100, .trickleBytes = 4000},
         true},
        // Two bytes a second with a correct length.
        {"/trickle/QLMUpdate.zip", TestRoute{.body = body, .trickleMs = 500, .trickleBytes = 1},
         false},
        // The headers themselves a byte at a time.
        {"/slow-head/QLMUpdate.zip", TestRoute{.body = body, .headTrickleMs = 100}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server.Route(c.path, c.route);
        get.Items.Clear();
        errors.clear();
        infos.clear();
        TWebGetItem& item = AddItem(c.path);
        get.Execute();
        EXPECT_EQ(item.Done, c.done);
        EXPECT_TRUE(notFound.isEmpty()) << notFound.join(' ').toStdString();
        if (c.done) {
            EXPECT_EQ(ReadFile(Target("QLMUpdate.zip")), body);
            EXPECT_TRUE(errors.empty());
            continue;
        }
        EXPECT_FALSE(QFile::exists(Target("QLMUpdate.zip")));
        EXPECT_EQ(errors, std::vector<int>{4});
        ASSERT_EQ(infos.size(), 1);
        EXPECT_TRUE(infos[0].endsWith("(the server sent less than 1024 bytes in 1 s)"))
            << infos[0].toStdString();
    }
}

TEST_F(WebGetTest, KeepsTheDiskReserveFree) {
    const int64_t free = FreeDiskSpace(temp.path());
    ASSERT_GT(free, DiskSpaceReserve);
    struct Case {
        const char* what;
        TestRoute route;
        int64_t reserve;
        bool done;
    } cases[] = {
        {"room to spare", TestRoute{.body = Payload(300000)}, DiskSpaceReserve, true},
        {"a stated size beyond the disk",
         TestRoute{.body = Payload(300000), .announcedLength = qint64(1) << 50}, DiskSpaceReserve,
         false},
        {"a disk already below the reserve", TestRoute{.body = Payload(300000)},
         free + (int64_t(1) << 30), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errors.clear();
        infos.clear();
        QDir(work).removeRecursively();
        server.Route("/QLMUpdate.zip", c.route);
        get.Items.Clear();
        get.MinFreeSpace = c.reserve;
        TWebGetItem& item = AddItem("/QLMUpdate.zip");
        get.Execute();
        EXPECT_EQ(item.Done, c.done);
        EXPECT_EQ(QFile::exists(Target("QLMUpdate.zip")), c.done);
        EXPECT_EQ(errors, c.done ? std::vector<int>{} : std::vector<int>{5});
        if (!c.done) {
            EXPECT_EQ(infos,
                      QStringList{"Error writing to destination file " + Target("QLMUpdate.zip")});
        }
    }
}

TEST_F(WebGetTest, UnknownLengthKeepsBarAtZero) {
    server.Route("/n/QLMUpdate.zip", TestRoute{.body = Payload(3000), .sendLength = false});
    AddItem("/n/QLMUpdate.zip");
    QStringList lines;
    int bar = -1;
    get.OnCopyProgress = [&](TWebGet& sender, int, uint64_t, uint64_t total) {
        EXPECT_EQ(total, 0u);
        lines << sender.Dialog()->ProgressLine()->text();
        bar = std::max(bar, sender.Dialog()->ProgressBar()->value());
    };
    get.Execute();
    EXPECT_EQ(bar, 0);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().startsWith("Progress : ")) << lines.first().toStdString();
    EXPECT_FALSE(lines.first().contains(" of ")) << lines.first().toStdString();
}

TEST_F(WebGetTest, UnreachableAndUncreatableTargets) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const QString closed =
        QStringLiteral("http://127.0.0.1:%1/QLMUpdate.zip").arg(probe.serverPort());
    probe.close();
    TWebGetItem& unreachable = get.Items.Add();
    unreachable.URL = closed;
    unreachable.TargetDir = work;

    // A regular file where the directory should be.
    WriteFile(Beside("blocker"), "x");
    server.Route("/QLMUpdate.zip", TestRoute{.body = "zip"});
    TWebGetItem& blocked = AddItem("/QLMUpdate.zip");
    blocked.TargetDir = Beside("blocker") + PathSeparator() + "sub";

    get.Execute();
    EXPECT_FALSE(unreachable.Done);
    EXPECT_FALSE(blocked.Done);
    EXPECT_EQ(notFound, QStringList{closed});
    EXPECT_FALSE(QFile::exists(work));
    EXPECT_EQ(errors, std::vector<int>{3});
    EXPECT_EQ(infos, QStringList{"Cannot create file " + AddBackslash(blocked.TargetDir) +
                                 "QLMUpdate.zip"});
}

TEST_F(WebGetTest, BasicAuthorizationWhenCredentialsSet) {
    server.Route("/QLMUpdate.zip", TestRoute{.body = "zip"});
    TWebGetItem& item = AddItem("/QLMUpdate.zip");
    item.HTTPUserID = "Aladdin";
    item.HTTPPassword = "open sesame";
    get.Execute();
    EXPECT_TRUE(item.Done);
    EXPECT_EQ(server.LastHeader("/QLMUpdate.zip", "authorization"),
              "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST_F(WebGetTest, CancelDuringSlowDownloadLeavesNoFile) {
    server.Route("/slow/QLMUpdate.zip",
                 TestRoute{.body = Payload(100000), .trickleMs = 5, .trickleBytes = 100});
    server.Route("/next.bin", TestRoute{.body = "next"});
    TWebGetItem& slow = AddItem("/slow/QLMUpdate.zip");
    AddItem("/next.bin");
    QDir().mkpath(work);
    WriteFile(Target("QLMUpdate.zip"), "earlier package");

    int cancels = 0;
    QStringList order;
    get.OnCopyCancel = [&](TWebGet&) { ++cancels; };
    get.OnFileDone = [&](TWebGet&, int idx) { order << QStringLiteral("done %1").arg(idx); };
    get.OnCopyDone = [&](TWebGet&) { order << "copy done"; };
    bool hiddenAtOnce = false;
    uint64_t received = 0;
    get.OnCopyProgress = [&](TWebGet& sender, int, uint64_t size, uint64_t) {
        received = size;
        // Once some data is in, the user clicks Cancel.
        if (size >= 500 && cancels == 0)
            QTimer::singleShot(0, [&sender, &hiddenAtOnce] {
                QPushButton* button =
                    sender.Dialog()->findChild<QPushButton*>(QStringLiteral("btnCancel"));
                ASSERT_NE(button, nullptr);
                button->click();
                hiddenAtOnce = !sender.Dialog()->isVisible();
            });
    };
    get.Execute();
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(hiddenAtOnce);
    EXPECT_FALSE(slow.Done);
    EXPECT_LT(received, 100000u);
    EXPECT_FALSE(QFile::exists(Target("QLMUpdate.zip")));
    EXPECT_EQ(server.Hits("/next.bin"), 0);
    EXPECT_EQ(order, QStringList{"copy done"});
}

TEST_F(WebGetTest, CancelBeforeTheServerAnswers) {
    // A server that accepts but never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    TWebGetItem& item = get.Items.Add();
    item.URL = QStringLiteral("http://127.0.0.1:%1/QLMUpdate.zip").arg(silent.serverPort());
    item.TargetDir = work;
    get.DialogSettings.ShowDialog = false;
    QTimer::singleShot(50, [this] { get.Cancel(); });
    get.Execute();
    EXPECT_FALSE(item.Done);
    EXPECT_TRUE(notFound.isEmpty());
    EXPECT_FALSE(QFile::exists(Target("QLMUpdate.zip")));
}

TEST_F(WebGetTest, HiddenDialogAndNoReentry) {
    server.Route("/QLMUpdate.zip",
                 TestRoute{.body = Payload(2000), .trickleMs = 2, .trickleBytes = 200});
    TWebGetItem& item = AddItem("/QLMUpdate.zip");
    get.DialogSettings.ShowDialog = false;
    bool everVisible = false;
    int nested = 0;
    get.OnCopyProgress = [&](TWebGet& sender, int, uint64_t, uint64_t) {
        everVisible = everVisible || sender.Dialog()->isVisible();
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (get.Executing()) {
            ++nested;
            get.Execute(); // refused while one runs
        }
    });
    timer.start(3);
    get.Execute();
    timer.stop();
    EXPECT_GT(nested, 0);
    EXPECT_FALSE(everVisible);
    EXPECT_TRUE(item.Done);
    EXPECT_EQ(server.Hits("/QLMUpdate.zip"), 1);
}

TEST_F(WebGetTest, SeveralItemsCountedInFileLine) {
    server.Route("/one.bin", TestRoute{.body = "1"});
    server.Route("/two.bin", TestRoute{.body = "2"});
    AddItem("/one.bin");
    AddItem("/skipped.bin").Active = false;
    AddItem("/two.bin");
    QStringList lines;
    get.OnCopyProgress = [&](TWebGet& sender, int, uint64_t, uint64_t) {
        const QString line = sender.Dialog()->FileLine()->text();
        if (lines.isEmpty() || lines.last() != line)
            lines << line;
    };
    get.Execute();
    const QString host = QStringLiteral("127.0.0.1:%1").arg(server.Port());
    EXPECT_EQ(lines, QStringList({"File : 1 of 2 : one.bin from " + host,
                                  "File : 2 of 2 : two.bin from " + host}));
    EXPECT_EQ(ReadFile(Target("two.bin")), "2");
    EXPECT_FALSE(get.Items[1].Done);
    EXPECT_EQ(server.Hits("/skipped.bin"), 0);
}

TEST_F(WebGetTest, OverwriteRefusedByHandlerKeepsTarget) {
    server.Route("/QLMUpdate.zip", TestRoute{.body = "new"});
    TWebGetItem& item = AddItem("/QLMUpdate.zip");
    QDir().mkpath(work);
    WriteFile(Target("QLMUpdate.zip"), "earlier package");
    QString asked;
    get.OnCopyOverWrite = [&](TWebGet&, const QString& target, bool& allow) {
        asked = target;
        allow = false;
    };
    get.Execute();
    EXPECT_EQ(asked, Target("QLMUpdate.zip"));
    EXPECT_FALSE(item.Done);
    EXPECT_EQ(ReadFile(Target("QLMUpdate.zip")), "earlier package");
}

TEST_F(WebGetTest, HttpsDownload) {
    // A throw-away certificate for 127.0.0.1 that the client is told to trust.
    const QString cert = Beside("cert.pem"), key = Beside("key.pem");
    const int made =
        RunHostProgram("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                                   "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                   "subjectAltName=IP:127.0.0.1"});
    if (made != 0)
        GTEST_SKIP() << "openssl cannot make a test certificate";
    QFile certFile(cert), keyFile(key);
    ASSERT_TRUE(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));
    const QSslCertificate certificate(&certFile, QSsl::Pem);
    QSslConfiguration serverConfig = QSslConfiguration::defaultConfiguration();
    serverConfig.setLocalCertificate(certificate);
    serverConfig.setPrivateKey(QSslKey(&keyFile, QSsl::Rsa, QSsl::Pem));

    TestHttpServer secure;
    ASSERT_TRUE(secure.StartTls(serverConfig));
    const QByteArray body = Payload(50000);
    secure.Route("/QLMUpdate.zip", TestRoute{.body = body});
    TWebGetItem& item = get.Items.Add();
    item.URL = secure.Url("/QLMUpdate.zip");
    item.TargetDir = work;

    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = saved;
    trusting.addCaCertificate(certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    get.Execute();
    QSslConfiguration::setDefaultConfiguration(saved);

    EXPECT_TRUE(item.Done);
    EXPECT_EQ(ReadFile(Target("QLMUpdate.zip")), body);
}
