// Runs a complete update (probe, both images, the boot wait) against the simulated device
// pacing itself at the line rate, and prints how close it comes to the line's limit.
//
// Usage: flash_update_bench [--quiet] [--sim PATH] [--silent-wait SECONDS] [--load N]
//   --load N  runs N busy processes at normal priority during the update

#include "HeadlessView.h"
#include "app/ErrorReport.h"
#include "app/MessagePresenter.h"
#include "flashing/DeviceFlasher.h"
#include "serial/TComPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// No dialogs here: an error report goes to stderr.
class StderrPresenter : public MessagePresenter {
public:
    void ShowMessage(const QString& title, const QString& text, Icon) override {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        ++shown;
    }
    int shown = 0;
};

constexpr double LineBytesPerSecond9600 = 960.0;
constexpr double LineBytesPerSecond115200 = 11520.0;
constexpr int Packets = 480 + 96;
constexpr int PacketSize = 1028;
// The simulator's own delays, as its command line announces them.
constexpr int RestartDelayMs = 600;
constexpr int NakIntervalMs = 1000;
constexpr int ProbeReplyChars = 54; // the probe's wait ends once this many have arrived

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool WriteRandomFile(const QString& path, int size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray bytes(size, 0);
    for (char& b : bytes)
        b = static_cast<char>(gen.bounded(256));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == size;
}

std::map<QString, QString> ReadStats(const QString& path) {
    std::map<QString, QString> stats;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return stats;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            stats[QString::fromLatin1(line.left(eq))] = QString::fromLatin1(line.mid(eq + 1));
    }
    return stats;
}

// Starts the simulator; the link path once it is ready, or the empty text.
QString StartSim(QProcess& sim, const QString& program, const QStringList& args,
                 const QString& link) {
    sim.setProgram(program);
    sim.setArguments(QStringList{"--link", link} + args);
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    if (!sim.waitForStarted(5000))
        return {};
    while (!sim.canReadLine())
        if (!sim.waitForReadyRead(5000))
            return {};
    sim.readLine();
    return link;
}

void StopSim(QProcess& sim) {
    if (sim.state() == QProcess::NotRunning)
        return;
    sim.terminate();
    if (!sim.waitForFinished(5000))
        sim.kill();
    sim.waitForFinished(5000);
}

// The shortest time the update can take: what the line must carry, the pauses of the
// sequence, and the device's restart delay before its boot loader speaks.
struct Minimum {
    double probeMs;
    double transfersMs;
    double bootWaitMs;
    double packetsMs;
    double repliesMs;
    double Total() const { return probeMs + transfersMs + bootWaitMs + packetsMs + repliesMs; }
};

Minimum TheoreticalMinimum() {
    Minimum m{};
    // Probe: settle pause, sentence, enough reply to end the wait, the unnamed probe's pause.
    m.probeMs = 250 + 12 * 1000.0 / LineBytesPerSecond9600 +
                ProbeReplyChars * 1000.0 / LineBytesPerSecond9600 + 250;
    // Each transfer: pause after opening, the entry sentence; the boot loader speaks after the
    // restart delay, which covers the pause after the sentence and the one after reopening
    // unless it is shorter than both (then its first NAK is purged and the next one counts);
    // the pause before the first block and the one after EOT.
    double handshake = RestartDelayMs;
    while (handshake < 500)
        handshake += NakIntervalMs;
    for (int entryLength : {28, 27})
        m.transfersMs +=
            250 + entryLength * 1000.0 / LineBytesPerSecond9600 + handshake + 250 + 250;
    m.bootWaitMs = 5000;
    m.packetsMs = Packets * PacketSize * 1000.0 / LineBytesPerSecond115200;
    // One ACK per packet, the handshake NAK and the EOT and its ACK, one byte each.
    m.repliesMs = (Packets + 2 * 3) * 1000.0 / LineBytesPerSecond115200;
    return m;
}

// Processes that keep one core each busy at normal priority until they are stopped.
class BusyLoad {
public:
    explicit BusyLoad(int processes) {
        for (int i = 0; i < processes; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid > 0)
                children_.push_back(pid);
        }
    }
    ~BusyLoad() {
        for (pid_t pid : children_)
            kill(pid, SIGKILL);
        for (pid_t pid : children_)
            waitpid(pid, nullptr, 0);
    }
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;
    int Count() const { return static_cast<int>(children_.size()); }

private:
    std::vector<pid_t> children_;
};

// The scheduling of this process's threads that do not run the default policy, as text.
QString RealTimeThreads() {
    QStringList found;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const pid_t tid = task.toInt();
        const int policy = sched_getscheduler(tid);
        sched_param param{};
        if (policy == SCHED_RR && sched_getparam(tid, &param) == 0)
            found << QStringLiteral("real-time round-robin %1").arg(param.sched_priority);
        else if (policy == SCHED_FIFO)
            found << QStringLiteral("real-time FIFO");
    }
    return found.isEmpty() ? QStringLiteral("normal") : found.join(QStringLiteral(", "));
}

int RunSilentWait(const QString& program, QTemporaryDir& dir, TComPort& port,
                  DeviceFlasher& flasher, HeadlessView& view, double seconds) {
    QProcess sim;
    const QString link =
        StartSim(sim, program, {"--silent-boot", "--boot-timeout", "0", "--out", dir.path()},
                 dir.filePath("silent-dev"));
    if (link.isEmpty()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    view.ports = QStringList{link};
    view.portText = link;
    RunGuarded([&] {
        if (!flasher.PickImage(1))
            return;
        view.abort = false;
        QTimer::singleShot(static_cast<int>(seconds * 1000), [&] { view.abort = true; });
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        flasher.Transfer().FlashExtImage();
        const double cpu = CpuSeconds() - cpu0;
        const double s = static_cast<double>(wall.elapsed()) / 1000.0;
        std::printf("silent boot loader wait: %.2f s wall, %.3f s CPU, %.2f %% of one core "
                    "(target under 1 %%)\n",
                    s, cpu, 100.0 * cpu / s);
    });
    StopSim(sim);
    (void)port;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    StderrPresenter presenter;
    MessagePresenter::Install(&presenter);
    bool quiet = false;
    QString program = QStringLiteral(QLM_SIM_PROGRAM);
    double silentWait = 5.0;
    int load = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--quiet")
            quiet = true;
        else if (args[i] == "--sim" && i + 1 < args.size())
            program = args[++i];
        else if (args[i] == "--silent-wait" && i + 1 < args.size())
            silentWait = args[++i].toDouble();
        else if (args[i] == "--load" && i + 1 < args.size())
            load = std::max(0, args[++i].toInt());
        else {
            std::fprintf(stderr, "usage: flash_update_bench [--quiet] [--sim PATH] "
                                 "[--silent-wait SECONDS] [--load N]\n");
            return 2;
        }
    }

    QTemporaryDir dir;
    const QString work = dir.filePath("work");
    const QString out = dir.filePath("received");
    QDir().mkpath(work);
    QDir().mkpath(out);
    if (!WriteRandomFile(work + "/QLM_OS.bin", 491516, 1) ||
        !WriteRandomFile(work + "/QLM_EXT.bin", 98304, 2)) {
        std::fprintf(stderr, "cannot write the firmware files\n");
        return 1;
    }

    HeadlessView view(!quiet);
    TComPort port;
    port.SetEvents(evRxChar);
    DeviceFlasher flasher(port, view);
    port.OnRxChar = [&](TCustomComPort* sender, int count) {
        RunGuarded([&] { flasher.ComPort1RxChar(sender, count); });
    };
    flasher.SetWorkDirectory(work);
    if (!flasher.ClassifyImages(work)) {
        std::fprintf(stderr, "firmware files not recognised\n");
        return 1;
    }

    const QString statsFile = dir.filePath("stats.txt");
    QProcess sim;
    const QString link = StartSim(sim, program,
                                  {"--pace", "--out", out, "--stats", statsFile, "--restart-delay",
                                   QString::number(RestartDelayMs), "--nak-interval",
                                   QString::number(NakIntervalMs)},
                                  dir.filePath("dev"));
    if (link.isEmpty()) {
        std::fprintf(stderr, "simulator did not start: %s\n", qPrintable(program));
        return 1;
    }
    view.ports = QStringList{link};
    view.portText = link;

    std::printf("Complete update against the simulated device at 115200 baud (paced)\n");
    QString receiveScheduling = QStringLiteral("?");
    double wallMs = 0;
    double cpu = 0;
    {
        const BusyLoad busy(load);
        std::printf("load: %d busy processes at normal priority\n", busy.Count());
        // Seen while the OS image is on its way, when the receive thread is running.
        QTimer::singleShot(8000, [&] { receiveScheduling = RealTimeThreads(); });
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        RunGuarded([&] { flasher.btnOSClick(); });
        wallMs = static_cast<double>(wall.elapsed());
        cpu = CpuSeconds() - cpu0;
    }
    const long peakKb = PeakRssKb();
    StopSim(sim);

    const bool updated = view.lines.contains(QStringLiteral("- QUILLMOOR HAS BEEN UPDATED -"));
    auto fileOf = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QByteArray os = fileOf(work + "/QLM_OS.bin");
    os.append(QByteArray(4, '\x1A'));
    const bool identical =
        fileOf(out + "/os.bin") == os && fileOf(out + "/ext.bin") == fileOf(work + "/QLM_EXT.bin");

    const Minimum m = TheoreticalMinimum();
    const auto stats = ReadStats(statsFile);
    auto stat = [&](const char* key) {
        const auto it = stats.find(QString::fromLatin1(key));
        return it == stats.end() ? QStringLiteral("?") : it->second;
    };

    std::printf("\nresult: %s, received images %s\n", updated ? "updated" : "NOT UPDATED",
                identical ? "identical to the padded files" : "DIFFERENT");
    std::printf("total wall time:        %8.3f s\n", wallMs / 1000.0);
    std::printf("theoretical minimum:    %8.3f s\n", m.Total() / 1000.0);
    std::printf("  packets on the line:  %8.3f s (%d x %d bytes at %.0f bytes/s)\n",
                m.packetsMs / 1000.0, Packets, PacketSize, LineBytesPerSecond115200);
    std::printf("  reply bytes:          %8.3f s\n", m.repliesMs / 1000.0);
    std::printf("  probe:                %8.3f s\n", m.probeMs / 1000.0);
    std::printf("  transfer pauses, entry sentences, restart delay %d ms: %.3f s\n", RestartDelayMs,
                m.transfersMs / 1000.0);
    std::printf("  boot wait:            %8.3f s\n", m.bootWaitMs / 1000.0);
    std::printf("ratio wall / minimum:   %8.4f (%+.2f %%; target within 3 %%)\n",
                wallMs / m.Total(), 100.0 * (wallMs / m.Total() - 1.0));
    std::printf("turnaround ACK -> next packet (device side, %s samples): median %s ms, "
                "p99 %s ms, max %s ms (target median under 2 ms)\n",
                qPrintable(stat("turnaround_count")), qPrintable(stat("turnaround_median_ms")),
                qPrintable(stat("turnaround_p99_ms")), qPrintable(stat("turnaround_max_ms")));
    std::printf("device line time of packets: %s s, packets received %s, duplicates %s, "
                "bad %s\n",
                qPrintable(stat("line_time_s")), qPrintable(stat("packets_received")),
                qPrintable(stat("packets_duplicate")), qPrintable(stat("packets_bad")));
    const double lineS = stat("line_time_s").toDouble();
    const double transferS = stat("transfer_time_s").toDouble();
    std::printf("block phase: %.1f %% of the line rate (packets' line time over the images' "
                "transfer time)\n",
                transferS > 0 ? 100.0 * lineS / transferS : 0.0);
    std::printf("updater CPU: %.3f s over the run, %.2f %% of one core (target under 5 %%)\n", cpu,
                100.0 * cpu / (wallMs / 1000.0));
    std::printf("updater peak resident memory: %.1f MB (target under 80 MB)\n",
                static_cast<double>(peakKb) / 1024.0);
    std::printf("receive thread scheduling during the transfer: %s\n",
                qPrintable(receiveScheduling));

    int rc = updated && identical && presenter.shown == 0 ? 0 : 1;
    if (silentWait > 0) {
        HeadlessView silentView(false);
        TComPort silentPort;
        silentPort.SetEvents(evRxChar);
        DeviceFlasher silentFlasher(silentPort, silentView);
        silentPort.OnRxChar = [&](TCustomComPort* sender, int count) {
            RunGuarded([&] { silentFlasher.ComPort1RxChar(sender, count); });
        };
        silentFlasher.SetWorkDirectory(work);
        silentFlasher.ClassifyImages(work);
        rc |= RunSilentWait(program, dir, silentPort, silentFlasher, silentView, silentWait);
    }
    return rc;
}
