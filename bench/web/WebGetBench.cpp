// Downloads a large file from a local HTTP server with TWebGet (dialog shown) and with
// curl, alternately, and prints the times and the resident memory.
//
//   bench_web [size_mb=100] [rounds=3]

#include "web/WebGet.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {
const char* ServerScript = R"(
import http.server, os, sys
os.chdir(sys.argv[1])
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
)";

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentRssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

QByteArray FileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&file);
    return hash.result().toHex();
}

bool WriteSource(const QString& path, qint64 bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint32 x = 12345;
    for (qint64 done = 0; done < bytes; done += block.size()) {
        for (char& c : block) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>(x >> 24);
        }
        file.write(block.constData(), std::min<qint64>(block.size(), bytes - done));
    }
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int sizeMb = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);

    QTemporaryDir dir;
    const QString served = dir.path() + "/srv";
    const QString target = dir.path() + "/dl";
    QDir().mkpath(served);
    const QString source = served + "/QLMUpdate.zip";
    if (!WriteSource(source, qint64(sizeMb) * 1000 * 1000)) {
        std::fprintf(stderr, "cannot write the source file\n");
        return 1;
    }
    const QByteArray sourceHash = FileHash(source);

    QProcess server;
    server.start(QStringLiteral("python3"), {QStringLiteral("-c"), ServerScript, served});
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }
    const int port = server.readLine().trimmed().toInt();
    const QString url = QStringLiteral("http://127.0.0.1:%1/QLMUpdate.zip").arg(port);
    std::printf("file: %d MB (%lld bytes) from %s\n", sizeMb, qint64(sizeMb) * 1000000,
                qPrintable(url));
    std::printf("RSS before: %ld KB\n", CurrentRssKb());

    std::vector<double> ours, curl;
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(target + "/curl.bin");
        QElapsedTimer clock;
        clock.start();
        const int rc = QProcess::execute(QStringLiteral("curl"),
                                         {"-s", "-o", target + "/curl.bin", "--create-dirs", url});
        curl.push_back(clock.nsecsElapsed() / 1e9);

        TWebGet get;
        TWebGetItem& item = get.Items.Add();
        item.URL = url;
        item.TargetDir = target;
        clock.restart();
        get.Execute();
        ours.push_back(clock.nsecsElapsed() / 1e9);

        const bool same = item.Done && FileHash(target + "/QLMUpdate.zip") == sourceHash;
        ok = ok && same && rc == 0;
        std::printf("round %d: curl %.3f s, TWebGet %.3f s (%s), peak RSS %ld KB\n", round + 1,
                    curl.back(), ours.back(), same ? "identical" : "DIFFERENT", PeakRssKb());
        std::fflush(stdout);
    }
    server.kill();
    server.waitForFinished();

    const double c = Median(curl), o = Median(ours);
    std::printf("median: curl %.3f s, TWebGet %.3f s, ratio %.2f; peak RSS %ld KB, RSS now %ld "
                "KB\n",
                c, o, o / c, PeakRssKb(), CurrentRssKb());
    return ok ? 0 : 1;
}
