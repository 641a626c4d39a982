#include "ClaimPorts.h"

namespace {

// Names are claimed as they are written, whether or not a port answers to them; the case and
// the device prefix make no difference.
class ComClaimPorts : public ClaimPorts {
public:
    QString Name() const override { return QStringLiteral("COM47"); }
    QStringList SameDevice() const override {
        return {QStringLiteral("com47"), QStringLiteral("\\\\.\\COM47"),
                QStringLiteral("\\\\.\\com47")};
    }
    QString OtherDevice() const override { return QStringLiteral("COM48"); }
    QString NoDevice() const override { return {}; }
};

} // namespace

std::unique_ptr<ClaimPorts> ClaimPorts::Make() {
    return std::make_unique<ComClaimPorts>();
}
