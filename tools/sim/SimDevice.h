#pragma once

#include "LineReceiver.h"
#include "LineTransmitter.h"
#include "SimClock.h"
#include "SimOptions.h"
#include "TransferStats.h"

#include <random>
#include <set>
#include <string>

// The simulated device: NMEA talker in normal operation, block-transfer receiver in its two
// boot loaders. Driven by arriving bytes and by its own timers; sends through the transmitter.
class SimDevice {
public:
    static constexpr int kNormalRate = 9600;
    static constexpr int kBootRate = 115200;
    static constexpr size_t kPacketSize = 1028;

    SimDevice(const SimOptions& options, LineTransmitter& tx, TransferStats& stats, SimTime now);

    // The rate the device listens and talks at; 0 while it restarts.
    int Rate() const;
    void OnByte(const LineReceiver::Byte& byte);
    void OnTimer(SimTime now);
    SimTime NextTimer() const;
    // How many more received bytes the device can take before it must act on them.
    size_t BytesWanted() const;

    bool HangupRequested() const { return hangup_; }
    int ImagesCompleted() const { return imagesCompleted_; }

private:
    enum class Mode { Normal, Restarting, Boot };
    enum class Image { None, Os, Ext };

    void OnNormalByte(const LineReceiver::Byte& byte);
    void OnBootByte(const LineReceiver::Byte& byte);
    void StartPacket(const LineReceiver::Byte& byte);
    void HandlePacket(SimTime at);
    void AcceptBlock(int block, SimTime at);
    void HandleEot(SimTime at);
    void FinishImage(SimTime at);
    void Abandon(const char* why, SimTime at);
    void Restart(Image into, SimTime at);
    void EnterMode(SimTime now);
    void StreamSecond(SimTime now);

    void Reply(std::string bytes, SimTime at, bool burst = false, bool blockAck = true);
    void SendGarbage(int count, SimTime from);
    bool FaultsApply() const;
    const char* ImageName() const;
    std::string ImageFile() const;

    const SimOptions& o_;
    LineTransmitter& tx_;
    TransferStats& stats_;
    std::mt19937 faultRng_;
    std::mt19937 noiseRng_;

    Mode mode_ = Mode::Normal;
    Image image_ = Image::None;
    Image pending_ = Image::None;
    SimTime restartAt_ = kNever;
    bool muted_ = false;
    bool hangup_ = false;
    int imagesCompleted_ = 0;

    // Normal operation
    std::string sentence_;
    int probeTailsSent_ = 0;
    SimTime nextStream_ = kNever;
    SimTime lastNoise_{};

    // Boot loader
    SimTime nextNak_ = kNever;
    SimTime bootDeadline_ = kNever;
    SimTime charDeadline_ = kNever;
    bool announced_ = false;
    bool collecting_ = false;
    std::string packet_;
    size_t packetPos_ = 0; // bytes of the packet taken off the line, dropped ones included
    size_t dropAt_ = 0;
    size_t corruptAt_ = 0;
    SimTime packetRead_{};
    uint8_t expectedSeq_ = 1;
    bool havePrev_ = false;
    uint8_t prevSeq_ = 0;
    std::string data_;
    std::set<int> nakedOnce_;
    bool eotNaked_ = false;
    SimTime lostUntil_{};
    bool sawPacket_ = false;
    SimTime firstPacketRead_{};
};
