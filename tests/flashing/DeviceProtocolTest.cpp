#include "flashing/DeviceProtocol.h"
#include "flashing/SendBuffer.h"

#include <gtest/gtest.h>

using namespace DeviceProtocol;

namespace {

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

struct SentenceCase {
    const char* label;
    QByteArrayView sentence;
    QByteArray bytes;
};

class SentenceTest : public ::testing::TestWithParam<SentenceCase> {};

TEST_P(SentenceTest, IsExactlyTheFixedBytesAndOnlyThoseAreWritten) {
    const SentenceCase& c = GetParam();
    EXPECT_EQ(c.sentence.toByteArray(), c.bytes);

    TSendBuffer buffer;
    std::fill(buffer.Data(), buffer.Data() + TSendBuffer::Size, 0xAA);
    const int count = buffer.Compose(c.sentence);
    EXPECT_EQ(count, c.bytes.size());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buffer.Data()), count), c.bytes);
    // The rest of the buffer is zero, never sent.
    for (int i = count; i < TSendBuffer::Size; ++i)
        ASSERT_EQ(buffer.Data()[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Sentences, SentenceTest,
    ::testing::Values(SentenceCase{"Probe", ProbeSentence, Hex("24504F454D30362A31310D0A")},
                      SentenceCase{"OsEntry", OSEntrySentence,
                                   Hex("24504D535431312C312C302C362C322C302C362C322C302A30330D0A")},
                      SentenceCase{"ExtEntry", ExtEntrySentence,
                                   Hex("24504F454D31332C312C3933333838382C39383330342A0D0D0D0D")}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Sentences, LengthsAndParticulars) {
    EXPECT_EQ(ProbeSentence.size(), 12);
    EXPECT_EQ(OSEntrySentence.size(), 28);
    EXPECT_EQ(ExtEntrySentence.size(), 27);
    EXPECT_FALSE(ExtEntrySentence.contains('\n'));

    // The probe's checksum is the real one, the OS entry's "03" is not (it would be 1B).
    auto xorBody = [](QByteArrayView s) {
        uint8_t x = 0;
        for (qsizetype i = 1; s[i] != '*'; ++i)
            x ^= static_cast<uint8_t>(s[i]);
        return x;
    };
    EXPECT_EQ(xorBody(ProbeSentence), 0x11);
    EXPECT_EQ(xorBody(OSEntrySentence), 0x1B);
    EXPECT_TRUE(OSEntrySentence.toByteArray().contains("*03\r\n"));
}

TEST(Eot, IsOneByteInAZeroedBuffer) {
    TSendBuffer buffer;
    buffer.Compose(OSEntrySentence);
    EXPECT_EQ(buffer.ComposeByte(EOT), 1);
    EXPECT_EQ(buffer.Data()[0], 0x04);
    for (int i = 1; i < TSendBuffer::Size; ++i)
        ASSERT_EQ(buffer.Data()[i], 0);
}

struct HeaderCase {
    int blockNumber; // counting from 1
    uint8_t sequence;
    uint8_t complement;
};

class BlockHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(BlockHeaderTest, SequenceWrapsAfter255) {
    const HeaderCase& c = GetParam();
    const BlockHeader h = MakeBlockHeader(c.blockNumber - 1);
    EXPECT_EQ(h.start, 0x02);
    EXPECT_EQ(h.sequence, c.sequence);
    EXPECT_EQ(h.complement, c.complement);
}

INSTANTIATE_TEST_SUITE_P(Blocks, BlockHeaderTest,
                         ::testing::Values(HeaderCase{1, 0x01, 0xFE}, HeaderCase{2, 0x02, 0xFD},
                                           HeaderCase{255, 0xFF, 0x00}, HeaderCase{256, 0x00, 0xFF},
                                           HeaderCase{257, 0x01, 0xFE},
                                           HeaderCase{480, 0xE0, 0x1F}));

struct PrefixCase {
    const char* label;
    QByteArray reply;
    bool present;
};

class PrefixTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(PrefixTest, ComparesOnlyTheStartOfTheReply) {
    EXPECT_EQ(ReplyHasDevicePrefix(GetParam().reply), GetParam().present);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PrefixTest,
    ::testing::Values(PrefixCase{"Poem101", "$POEM101,1,2*00\r\n", true},
                      PrefixCase{"Gprmc", "$GPRMC,123519,A,4807.038,N*6A\r\n", true},
                      PrefixCase{"Gpgsv", "$GPGSV,3,1,11,03*74\r\n", true},
                      PrefixCase{"Gpgga", "$GPGGA,1", true}, PrefixCase{"ShortGpg", "$GPG", true},
                      PrefixCase{"Gpvtg", "$GPVTG,054.7,T*48\r\n", false},
                      PrefixCase{"Poem101NoComma", "$POEM1012\r\n", false},
                      PrefixCase{"Poem101Alone", "$POEM101", false},
                      PrefixCase{"MidSentence", "4807.038,N*6A\r\n$GPRMC,123519\r\n", false},
                      PrefixCase{"LowerCase", "$gprmc,1", false},
                      PrefixCase{"LeadingNewline", "\n$GPRMC", false},
                      PrefixCase{"Empty", "", false}, PrefixCase{"Gp", "$GP", false}),
    [](const auto& info) { return std::string(info.param.label); });

// A reply worth asking for again: text, however it starts, also a sentence's tail alone.
TEST(SentenceText, IsPrintableLinesWhateverTheStart) {
    const std::pair<QByteArray, bool> cases[] = {
        {"MC,143911.00,A,5130.1234,N,00007.5678,W,0.0,0.0,111226", true},
        {"4807.038,N*6A\r\n$GPRMC,123519\r\n", true},
        {"$GPVTG,054.7,T*48\r\n", true},
        {QByteArray("\x93\xfe\x00\x12", 4), false},
        {"GPRMC,1\x15", false},
        {"", false},
    };
    for (const auto& [reply, text] : cases)
        EXPECT_EQ(ReplyIsSentenceText(reply), text) << reply.toStdString();
}

TEST(ClassifyByte, KnowsAckNakCan) {
    EXPECT_EQ(ClassifyByte(0x06), Reply::Ack);
    EXPECT_EQ(ClassifyByte(0x15), Reply::Nak);
    EXPECT_EQ(ClassifyByte(0x18), Reply::Can);
    for (int b : {0x00, 0x02, 0x04, 0x05, 0x07, 0x14, 0x16, 0x17, 0x19, 0x43, 0xFF})
        EXPECT_EQ(ClassifyByte(static_cast<uint8_t>(b)), Reply::Other) << b;
}

} // namespace
