#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

enum class EotReply { Ack, None, NakFirst, Junk };
enum class FaultImage { Any, Os, Ext };

// Everything the command line can set.
struct SimOptions {
    // Set-up
    std::string linkPath;
    std::string outDir = ".";
    std::string statsFile;
    bool verbose = false;
    bool pace = true;
    bool stdinControl = false;
    int exitAfterImages = 0;

    // Normal operation
    bool stream = false;
    bool answerProbe = true;
    bool noise = false;
    std::string probeReply;
    int probeTails = 0;

    // Boot loader timing
    int restartDelayMs = 600;
    int nakIntervalMs = 1000;
    int charTimeoutMs = 1000;
    int bootTimeoutMs = 30000;
    // Held back by a USB adapter's latency timer: every answer leaves this much later.
    int replyDelayMs = 0;

    // Faults; block numbers count from 1 within each image.
    FaultImage faultImage = FaultImage::Any;
    std::set<int> nakOnce;
    std::set<int> nakAlways;
    std::set<int> ackNakBurst;
    std::set<int> nakAckBurst;
    std::set<int> canBlocks;
    int canAckAfterMs = -1;
    int silentFrom = 0;
    bool silentBoot = false;
    int garbageBoot = 0;
    std::map<int, int> garbageBlock;
    int garbageGapMs = 20;
    int dropRate = 0;
    int corruptRate = 0;
    uint32_t seed = 1;
    EotReply eot = EotReply::Ack;
    int hangupAt = 0;
    int muteAfterNakMs = 0;
    bool stayAfterEot = false;
};

struct ParseOutcome {
    enum Kind { Run, Help, Error } kind = Run;
    std::string error;
};

ParseOutcome ParseSimOptions(const std::vector<std::string>& args, SimOptions& options);
std::string SimUsage();

// The default probe reply: a device sentence long enough to end the probe's wait early.
std::string DefaultProbeReply();

// Expands \r \n \t \\ and \xHH; false on a malformed escape.
bool UnescapeText(const std::string& text, std::string& out);
