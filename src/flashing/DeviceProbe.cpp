#include "flashing/DeviceProbe.h"

#include "app/EventPump.h"
#include "flashing/DeviceLink.h"
#include "flashing/DeviceProtocol.h"
#include "flashing/UpdaterView.h"
#include "serial/TComPort.h"

#include <QElapsedTimer>

TDeviceProbe::TDeviceProbe(TDeviceLink& link, UpdaterView& view) : link_(link), view_(view) {}

QString TDeviceProbe::ProbePort(bool verbose, const QString& name) {
    QString result;
    const PortClaimScope claim(link_, name);
    link_.SetupPort(name);
    link_.Port().Open();
    {
        PortCloser closer(link_);
        SleepMs(SettleMs);
        link_.Port().PurgeBuffers(true, true);
        link_.Rx().Reset();
        link_.SendSentence(DeviceProtocol::ProbeSentence);

        QElapsedTimer window;
        window.start();
        while (link_.Rx().reply.size() < ReplyEnoughChars) {
            WaitPass();
            if (window.elapsed() > ReplyWindowMs)
                break;
        }

        const bool answered = DeviceProtocol::ReplyHasDevicePrefix(link_.Rx().reply);
        if (verbose) {
            if (answered) {
                if (!name.isEmpty())
                    view_.AppendLine(QStringLiteral("-> FOUND QUILLMOOR DEVICE  [OK]"));
                result = QStringLiteral("OK");
            } else {
                view_.AppendLine(QStringLiteral("-> QUILLMOOR DOES NOT ANSWER!  [ERROR]"));
            }
        } else if (answered) {
            result = QStringLiteral("OK");
        }
    }
    if (name.isEmpty())
        SleepMs(SettleMs);
    return result;
}

QString TDeviceProbe::SearchDevice() {
    // A copy: the list may be refreshed by an event handled during a probe.
    const QStringList ports = view_.PortItems();
    for (const QString& port : ports) {
        SleepMs(SearchStepMs);
        if (!ProbePort(false, port).isEmpty())
            return port;
    }
    return {};
}
