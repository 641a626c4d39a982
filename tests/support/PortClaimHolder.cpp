// Another program that claims a port: claims the port named on its command line, says how
// that went on one line ("claimed", "in use" or "unheld"), and keeps the claim until its
// input ends or it is killed.
#include "serial/PortClaim.h"

#include <QString>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: port_claim_holder PORT\n");
        return 2;
    }
    PortClaim claim;
    const PortClaim::Result result = claim.Claim(QString::fromLocal8Bit(argv[1]));
    const char* said = result.status == PortClaim::Status::Claimed ? "claimed"
                       : result.status == PortClaim::Status::InUse ? "in use"
                                                                   : "unheld";
    std::printf("%s\n", said);
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
