#include "SimDevice.h"

#include "Nmea.h"
#include "SimLog.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t CAN = 0x18;

const std::string kProbe = "$POEM06*11\r\n";
const std::string kOsEntry = "$PMST11,1,0,6,2,0,6,2,0*03\r\n";
const std::string kExtEntry = "$POEM13,1,933888,98304*\r\r\r\r";
constexpr size_t kLongestSentence = 82;

std::string Printable(const std::string& s) {
    std::string out;
    for (const unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        }
    }
    return out;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    const std::string temp = path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}
} // namespace

SimDevice::SimDevice(const SimOptions& options, LineTransmitter& tx, TransferStats& stats,
                     SimTime now)
    : o_(options), tx_(tx), stats_(stats), faultRng_(options.seed), noiseRng_(options.seed + 1) {
    if (o_.stream)
        nextStream_ = now;
}

int SimDevice::Rate() const {
    switch (mode_) {
    case Mode::Normal:
        return kNormalRate;
    case Mode::Boot:
        return kBootRate;
    default:
        return 0;
    }
}

size_t SimDevice::BytesWanted() const {
    if (mode_ == Mode::Boot && collecting_)
        return kPacketSize - packetPos_;
    return 1;
}

SimTime SimDevice::NextTimer() const {
    SimTime next = restartAt_;
    if (muted_)
        return next;
    if (mode_ == Mode::Normal)
        next = std::min(next, nextStream_);
    if (mode_ == Mode::Boot) {
        if (!announced_)
            next = std::min(next, nextNak_);
        if (collecting_)
            next = std::min(next, charDeadline_);
        next = std::min(next, bootDeadline_);
    }
    return next;
}

void SimDevice::OnTimer(SimTime now) {
    if (now >= restartAt_)
        EnterMode(now);
    if (muted_)
        return;
    if (mode_ == Mode::Normal && now >= nextStream_)
        StreamSecond(now);
    if (mode_ != Mode::Boot)
        return;
    if (collecting_ && now >= charDeadline_) {
        simlog::Line("packet stalled after %zu of %zu bytes: NAK", packetPos_, kPacketSize);
        collecting_ = false;
        stats_.OnBadPacket();
        Reply(std::string(1, static_cast<char>(NAK)), now);
    }
    if (!announced_ && now >= nextNak_) {
        simlog::Line("boot loader announces itself: NAK");
        Reply(std::string(1, static_cast<char>(NAK)), now);
        nextNak_ += Millis(o_.nakIntervalMs);
        if (nextNak_ <= now)
            nextNak_ = now + Millis(o_.nakIntervalMs);
    }
    if (now >= bootDeadline_)
        Abandon("no bytes for the boot timeout", now);
}

void SimDevice::OnByte(const LineReceiver::Byte& byte) {
    if (muted_)
        return;
    if (mode_ == Mode::Normal)
        OnNormalByte(byte);
    else if (mode_ == Mode::Boot)
        OnBootByte(byte);
}

void SimDevice::OnNormalByte(const LineReceiver::Byte& byte) {
    if (byte.garbled) {
        sentence_.clear();
        if (o_.noise && byte.arrival - lastNoise_ > Millis(200)) {
            lastNoise_ = byte.arrival;
            std::string noise(60, '\0');
            std::uniform_int_distribution<int> high(0x80, 0xFF);
            for (char& c : noise)
                c = static_cast<char>(high(noiseRng_));
            tx_.Send({noise, kNormalRate, byte.arrival, false, true});
        }
        return;
    }
    const char c = static_cast<char>(byte.value);
    if (c == '$')
        sentence_.assign(1, c);
    else if (!sentence_.empty())
        sentence_ += c;
    else
        return;

    if (sentence_ == kProbe) {
        sentence_.clear();
        if (!o_.answerProbe) {
            simlog::Line("probe received, not answering");
            return;
        }
        std::string reply = o_.probeReply;
        if (probeTailsSent_ < o_.probeTails) {
            ++probeTailsSent_;
            reply = "48.0,N,01131.0,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n" + reply;
        }
        simlog::Line("probe received: answering %s", Printable(reply).c_str());
        tx_.SendAfterCurrent({reply, kNormalRate, byte.arrival + Millis(o_.replyDelayMs)});
    } else if (sentence_ == kOsEntry || sentence_ == kExtEntry) {
        const Image into = sentence_ == kOsEntry ? Image::Os : Image::Ext;
        sentence_.clear();
        simlog::Line("%s entry sentence received: restarting into its boot loader",
                     into == Image::Os ? "OS" : "external");
        Restart(into, byte.arrival);
    } else if (c == '\n' || sentence_.size() > kLongestSentence) {
        simlog::Line("ignored: %s", Printable(sentence_).c_str());
        sentence_.clear();
    }
}

void SimDevice::OnBootByte(const LineReceiver::Byte& byte) {
    if (o_.bootTimeoutMs > 0)
        bootDeadline_ = byte.arrival + Millis(o_.bootTimeoutMs);
    if (!collecting_) {
        if (byte.garbled) {
            simlog::Line("unreadable byte at the wrong line rate ignored");
        } else if (byte.value == STX) {
            StartPacket(byte);
        } else if (byte.value == EOT) {
            HandleEot(byte.arrival);
        } else {
            simlog::Line("stray byte %02X ignored", byte.value);
        }
        return;
    }
    const size_t pos = packetPos_++;
    charDeadline_ = byte.arrival + Millis(o_.charTimeoutMs);
    if (pos == dropAt_) {
        simlog::Line("fault: byte %zu of this packet lost", pos);
        return;
    }
    uint8_t value = byte.value;
    if (pos == corruptAt_ || byte.garbled) {
        value ^= 0x5A;
        simlog::Line("fault: byte %zu of this packet corrupted", pos);
    }
    packet_ += static_cast<char>(value);
    if (packet_.size() == kPacketSize)
        HandlePacket(byte.arrival);
}

void SimDevice::StartPacket(const LineReceiver::Byte& byte) {
    if (!sawPacket_)
        firstPacketRead_ = byte.read;
    sawPacket_ = true;
    announced_ = true; // the NAK announcements end with the first packet
    collecting_ = true;
    packet_.assign(1, static_cast<char>(STX));
    packetPos_ = 1;
    packetRead_ = byte.read;
    charDeadline_ = byte.arrival + Millis(o_.charTimeoutMs);
    stats_.OnPacketStart(byte.read);
    dropAt_ = corruptAt_ = 0;
    std::uniform_int_distribution<size_t> index(1, kPacketSize - 1);
    if (o_.dropRate > 0 && FaultsApply() && faultRng_() % o_.dropRate == 0)
        dropAt_ = index(faultRng_);
    if (o_.corruptRate > 0 && FaultsApply() && faultRng_() % o_.corruptRate == 0)
        corruptAt_ = index(faultRng_);
}

void SimDevice::HandlePacket(SimTime at) {
    collecting_ = false;
    stats_.OnPacketReceived(kPacketSize, CharTime(kBootRate, 10) * kPacketSize);
    const auto* p = reinterpret_cast<const uint8_t*>(packet_.data());
    const uint8_t seq = p[1];
    uint8_t sum = 0;
    for (size_t i = 3; i < 3 + 1024; ++i)
        sum = static_cast<uint8_t>(sum + p[i]);
    const char nak[] = {static_cast<char>(NAK), 0};
    if (static_cast<uint8_t>(seq ^ p[2]) != 0xFF || sum != p[1027]) {
        simlog::Line("bad packet (sequence %02X/%02X, checksum %02X, expected %02X): NAK", seq,
                     p[2], p[1027], sum);
        stats_.OnBadPacket();
        Reply(nak, at);
        return;
    }
    if (seq == expectedSeq_) {
        AcceptBlock(static_cast<int>(data_.size() / 1024) + 1, at);
    } else if (havePrev_ && seq == prevSeq_) {
        simlog::Line("packet %02X repeated: ACK, not stored again", seq);
        stats_.OnDuplicate();
        Reply(std::string(1, static_cast<char>(ACK)), at);
    } else {
        simlog::Line("packet %02X out of sequence (expected %02X): CAN", seq, expectedSeq_);
        stats_.OnBadPacket();
        Reply(std::string(2, static_cast<char>(CAN)), at, true);
        Abandon("sequence error", at);
    }
}

void SimDevice::AcceptBlock(int block, SimTime at) {
    const bool faults = FaultsApply();
    const std::string nak(1, static_cast<char>(NAK));
    if (faults && o_.silentFrom > 0 && block >= o_.silentFrom) {
        simlog::Line("fault: block %d received, device falls silent for good", block);
        muted_ = true;
        tx_.Clear();
        return;
    }
    if (faults && o_.hangupAt == block) {
        simlog::Line("fault: block %d received, hanging up", block);
        hangup_ = true;
        return;
    }
    if (faults && o_.nakAlways.count(block)) {
        simlog::Line("fault: block %d refused: NAK", block);
        Reply(nak, at);
        return;
    }
    if (faults && o_.nakOnce.count(block) && nakedOnce_.insert(block).second) {
        simlog::Line("fault: block %d refused once: NAK", block);
        Reply(nak, at);
        return;
    }
    const uint8_t seq = static_cast<uint8_t>(packet_[1]);
    data_.append(packet_, 3, 1024);
    stats_.OnPacketStored();
    prevSeq_ = seq;
    havePrev_ = true;
    expectedSeq_ = static_cast<uint8_t>(seq + 1);

    const std::string ack(1, static_cast<char>(ACK));
    if (faults && o_.canBlocks.count(block)) {
        simlog::Line("fault: block %d answered with CAN", block);
        Reply(std::string(1, static_cast<char>(CAN)), at);
        if (o_.canAckAfterMs >= 0)
            Reply(ack, at + Millis(o_.canAckAfterMs));
        else
            Abandon("cancelled", at);
        return;
    }
    SimTime replyAt = at;
    if (faults && o_.garbageBlock.count(block)) {
        const int count = o_.garbageBlock.at(block);
        SendGarbage(count, at);
        replyAt = at + Millis(o_.garbageGapMs) * count;
    }
    if (faults && o_.ackNakBurst.count(block)) {
        Reply(ack + nak, replyAt, true);
    } else if (faults && o_.nakAckBurst.count(block)) {
        Reply(nak + ack, replyAt, true);
    } else {
        simlog::Line("block %d (sequence %02X) stored: ACK", block, seq);
        Reply(ack, replyAt);
    }
}

void SimDevice::HandleEot(SimTime at) {
    const std::string ack(1, static_cast<char>(ACK));
    switch (o_.eot) {
    case EotReply::Ack:
        Reply(ack, at, false, false);
        break;
    case EotReply::None:
        simlog::Line("fault: EOT not confirmed");
        break;
    case EotReply::NakFirst:
        if (!eotNaked_) {
            eotNaked_ = true;
            simlog::Line("fault: first EOT refused: NAK");
            Reply(std::string(1, static_cast<char>(NAK)), at);
            return;
        }
        Reply(ack, at, false, false);
        break;
    case EotReply::Junk:
        simlog::Line("fault: EOT answered with junk");
        SendGarbage(10, at);
        break;
    }
    FinishImage(at);
}

void SimDevice::FinishImage(SimTime at) {
    const std::string file = ImageFile();
    ::mkdir(o_.outDir.c_str(), 0777);
    if (WriteWholeFile(file, data_))
        simlog::Line("EOT: %zu blocks written to %s", data_.size() / 1024, file.c_str());
    else
        simlog::Error("cannot write %s: %s", file.c_str(), std::strerror(errno));
    const SimDuration took = sawPacket_ ? at - firstPacketRead_ : SimDuration::zero();
    stats_.OnImageComplete(ImageName(), file, data_.size() / 1024, took);
    ++imagesCompleted_;
    if (o_.stayAfterEot) {
        simlog::Line("fault: the boot loader stays after EOT");
        Restart(image_, at);
        return;
    }
    Restart(Image::None, at);
}

void SimDevice::Abandon(const char* why, SimTime at) {
    simlog::Line("transfer abandoned (%s) after %zu blocks: back to normal operation", why,
                 data_.size() / 1024);
    stats_.OnImageAbandoned();
    Restart(Image::None, at);
}

void SimDevice::Restart(Image into, SimTime at) {
    // Stops whatever was going on; what is already on the line still goes out (replies).
    if (mode_ == Mode::Normal)
        tx_.Clear();
    mode_ = Mode::Restarting;
    pending_ = into;
    restartAt_ = at + Millis(o_.restartDelayMs);
    collecting_ = false;
    sentence_.clear();
}

void SimDevice::EnterMode(SimTime now) {
    restartAt_ = kNever;
    image_ = pending_;
    pending_ = Image::None;
    if (image_ == Image::None) {
        mode_ = Mode::Normal;
        simlog::Line("normal operation at %d baud", kNormalRate);
        if (o_.stream)
            nextStream_ = now;
        return;
    }
    mode_ = Mode::Boot;
    simlog::Line("%s boot loader running at %d baud", ImageName(), kBootRate);
    data_.clear();
    nakedOnce_.clear();
    expectedSeq_ = 1;
    havePrev_ = false;
    eotNaked_ = false;
    lostUntil_ = {};
    sawPacket_ = false;
    collecting_ = false;
    announced_ = o_.silentBoot;
    bootDeadline_ = o_.bootTimeoutMs > 0 ? now + Millis(o_.bootTimeoutMs) : kNever;
    nextNak_ = now;
    if (o_.garbageBoot > 0) {
        SendGarbage(o_.garbageBoot, now);
        nextNak_ = now + Millis(o_.garbageGapMs) * o_.garbageBoot;
    }
}

void SimDevice::StreamSecond(SimTime now) {
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    for (const auto& s :
         nmea::SecondOfOutput(std::chrono::duration_cast<std::chrono::seconds>(wall).count()))
        tx_.Send({s, kNormalRate, now});
    nextStream_ += Millis(1000);
    if (nextStream_ <= now)
        nextStream_ = now + Millis(1000);
}

void SimDevice::Reply(std::string bytes, SimTime at, bool burst, bool blockAck) {
    at += Millis(o_.replyDelayMs);
    if (at < lostUntil_) {
        simlog::Line("fault: answer %s lost", Printable(bytes).c_str());
        return;
    }
    if (static_cast<uint8_t>(bytes[0]) == NAK) {
        stats_.OnNakSent();
        // The boot loader's announcements come before the first packet and answer nothing.
        if (o_.muteAfterNakMs > 0 && announced_ && FaultsApply())
            lostUntil_ = at + Millis(o_.muteAfterNakMs);
    }
    LineTransmitter::Chunk chunk{std::move(bytes), kBootRate, at, burst};
    chunk.ack = blockAck && static_cast<uint8_t>(chunk.bytes[0]) == ACK;
    tx_.Send(std::move(chunk));
}

void SimDevice::SendGarbage(int count, SimTime from) {
    // Single bytes, apart, so that each is a receive event of its own on the host.
    std::uniform_int_distribution<int> junk(0x30, 0x7E);
    for (int i = 0; i < count; ++i)
        tx_.Send({std::string(1, static_cast<char>(junk(noiseRng_))), kBootRate,
                  from + Millis(o_.garbageGapMs) * i});
}

bool SimDevice::FaultsApply() const {
    return o_.faultImage == FaultImage::Any ||
           (o_.faultImage == FaultImage::Os && image_ == Image::Os) ||
           (o_.faultImage == FaultImage::Ext && image_ == Image::Ext);
}

const char* SimDevice::ImageName() const {
    return image_ == Image::Os ? "os" : "ext";
}

std::string SimDevice::ImageFile() const {
    std::string dir = o_.outDir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir + ImageName() + ".bin";
}
