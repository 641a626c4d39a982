#include "flashing/DeviceProtocol.h"

namespace DeviceProtocol {

Reply ClassifyByte(uint8_t byte) {
    switch (byte) {
    case ACK:
        return Reply::Ack;
    case NAK:
        return Reply::Nak;
    case CAN:
        return Reply::Can;
    default:
        return Reply::Other;
    }
}

BlockHeader HeaderForSequence(uint8_t sequence) {
    return BlockHeader{STX, sequence, static_cast<uint8_t>(0xFF - sequence)};
}

BlockHeader MakeBlockHeader(int index) {
    return HeaderForSequence(static_cast<uint8_t>((index + 1) & 0xFF));
}

bool ReplyHasDevicePrefix(const QByteArray& reply) {
    // Only the very start counts: a reply that begins mid-sentence is refused.
    static constexpr QByteArrayView Prefixes[] = {"$POEM101,", "$GPRMC", "$GPG"};
    for (const QByteArrayView prefix : Prefixes)
        if (reply.startsWith(prefix))
            return true;
    return false;
}

bool ReplyIsSentenceText(const QByteArray& reply) {
    // The probe's window may hold no more than the tail of one sentence: no '$' need be in it.
    if (reply.isEmpty())
        return false;
    for (const char c : reply)
        if ((c < 0x20 || c > 0x7E) && c != '\r' && c != '\n')
            return false;
    return true;
}

} // namespace DeviceProtocol
