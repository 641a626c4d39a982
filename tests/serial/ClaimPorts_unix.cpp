#include "ClaimPorts.h"

#include "PtyPair.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

// Two pseudo-terminals; the first is also reached through a link, a doubled separator and a
// detour.
class PtyClaimPorts : public ClaimPorts {
public:
    PtyClaimPorts() { QFile::link(first_.SlavePath(), links_.filePath("gps")); }

    QString Name() const override { return first_.SlavePath(); }
    QStringList SameDevice() const override {
        QString doubled = first_.SlavePath();
        doubled.replace(QStringLiteral("/dev/"), QStringLiteral("/dev//"));
        QString roundabout = first_.SlavePath();
        roundabout.replace(QStringLiteral("/pts/"), QStringLiteral("/pts/../pts/"));
        return {links_.filePath("gps"), doubled, roundabout};
    }
    QString OtherDevice() const override { return second_.SlavePath(); }
    QString NoDevice() const override { return links_.filePath("unplugged"); }

private:
    PtyPair first_;
    PtyPair second_;
    QTemporaryDir links_;
};

} // namespace

std::unique_ptr<ClaimPorts> ClaimPorts::Make() {
    return std::make_unique<PtyClaimPorts>();
}
