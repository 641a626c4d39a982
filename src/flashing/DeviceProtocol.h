#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>

// Every byte the updater sends to the device and every byte it interprets from it.
namespace DeviceProtocol {

// Sentences at 9600 baud, fixed text (nothing in them is computed).
inline constexpr QByteArrayView ProbeSentence{"$POEM06*11\r\n"};
inline constexpr QByteArrayView OSEntrySentence{"$PMST11,1,0,6,2,0,6,2,0*03\r\n"};
inline constexpr QByteArrayView ExtEntrySentence{"$POEM13,1,933888,98304*\r\r\r\r"};

// Control bytes at 115200 baud.
inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t EOT = 0x04;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t NAK = 0x15;
inline constexpr uint8_t CAN = 0x18;

enum class Reply { Ack, Nak, Can, Other };
Reply ClassifyByte(uint8_t byte);

// Start byte, sequence and its complement of the block with 0-based index.
struct BlockHeader {
    uint8_t start;
    uint8_t sequence;
    uint8_t complement;
};
BlockHeader MakeBlockHeader(int index);
// Header for a given sequence byte.
BlockHeader HeaderForSequence(uint8_t sequence);

// True when the probe reply begins like a device sentence.
bool ReplyHasDevicePrefix(const QByteArray& reply);
// True when the reply is text (printable, lines), whatever its start: a device
// that talks without pause may have been caught mid-sentence and be worth asking again.
bool ReplyIsSentenceText(const QByteArray& reply);

} // namespace DeviceProtocol
