#include "SimOptions.h"

#include "Nmea.h"

#include <charconv>
#include <functional>
#include <limits>

namespace {

struct OptionSpec {
    const char* name;
    const char* arg; // nullptr: a flag without value
    const char* help;
    std::function<bool(SimOptions&, const std::string&, std::string&)> apply;
};

bool ToInt(const std::string& text, int low, int high, int& value) {
    int parsed = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, parsed);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        return false;
    if (parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

constexpr int kMaxInt = std::numeric_limits<int>::max();

std::function<bool(SimOptions&, const std::string&, std::string&)> IntField(int SimOptions::*field,
                                                                            int low, int high) {
    return [field, low, high](SimOptions& o, const std::string& v, std::string& err) {
        if (ToInt(v, low, high, o.*field))
            return true;
        err = "expects a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
              ", got '" + v + "'";
        return false;
    };
}

std::function<bool(SimOptions&, const std::string&, std::string&)> Flag(bool SimOptions::*field,
                                                                        bool value) {
    return [field, value](SimOptions& o, const std::string&, std::string&) {
        o.*field = value;
        return true;
    };
}

// "N[,N...]", block numbers from 1.
std::function<bool(SimOptions&, const std::string&, std::string&)>
BlockList(std::set<int> SimOptions::*field) {
    return [field](SimOptions& o, const std::string& v, std::string& err) {
        size_t pos = 0;
        while (true) {
            const size_t comma = v.find(',', pos);
            const std::string item =
                v.substr(pos, comma == std::string::npos ? comma : comma - pos);
            int block = 0;
            if (!ToInt(item, 1, kMaxInt, block)) {
                err = "expects block numbers from 1, separated by commas, got '" + v + "'";
                return false;
            }
            (o.*field).insert(block);
            if (comma == std::string::npos)
                return true;
            pos = comma + 1;
        }
    };
}

bool ParseGarbageBlock(SimOptions& o, const std::string& v, std::string& err) {
    const size_t colon = v.find(':');
    int block = 0;
    int count = 1;
    const bool ok = ToInt(v.substr(0, colon), 1, kMaxInt, block) &&
                    (colon == std::string::npos || ToInt(v.substr(colon + 1), 1, 1000, count));
    if (!ok) {
        err = "expects N or N:COUNT (block from 1, count 1 to 1000), got '" + v + "'";
        return false;
    }
    o.garbageBlock[block] = count;
    return true;
}

bool ParseEot(SimOptions& o, const std::string& v, std::string& err) {
    static const std::map<std::string, EotReply> modes = {{"ack", EotReply::Ack},
                                                          {"none", EotReply::None},
                                                          {"nak-first", EotReply::NakFirst},
                                                          {"junk", EotReply::Junk}};
    const auto it = modes.find(v);
    if (it == modes.end()) {
        err = "expects ack, none, nak-first or junk, got '" + v + "'";
        return false;
    }
    o.eot = it->second;
    return true;
}

bool ParseFaultImage(SimOptions& o, const std::string& v, std::string& err) {
    static const std::map<std::string, FaultImage> kinds = {
        {"any", FaultImage::Any}, {"os", FaultImage::Os}, {"ext", FaultImage::Ext}};
    const auto it = kinds.find(v);
    if (it == kinds.end()) {
        err = "expects any, os or ext, got '" + v + "'";
        return false;
    }
    o.faultImage = it->second;
    return true;
}

bool ParseSeed(SimOptions& o, const std::string& v, std::string& err) {
    uint32_t seed = 0;
    const char* end = v.data() + v.size();
    const auto result = std::from_chars(v.data(), end, seed);
    if (v.empty() || result.ec != std::errc() || result.ptr != end) {
        err = "expects an unsigned 32-bit number, got '" + v + "'";
        return false;
    }
    o.seed = seed;
    return true;
}

bool ParseProbeReply(SimOptions& o, const std::string& v, std::string& err) {
    if (!UnescapeText(v, o.probeReply)) {
        err = "has a malformed escape in '" + v + "'";
        return false;
    }
    return true;
}

bool NotEmpty(std::string SimOptions::*field, SimOptions& o, const std::string& v,
              std::string& err) {
    if (v.empty()) {
        err = "expects a path";
        return false;
    }
    o.*field = v;
    return true;
}

const std::vector<OptionSpec>& Specs() {
    using namespace std::placeholders;
    static const std::vector<OptionSpec> specs = {
        {"--help", nullptr, "Show this help and exit (also -h).", nullptr},
        {"--link", "PATH",
         "Make a symlink PATH to the pseudo-terminal's slave; removed on exit. An existing "
         "symlink is replaced, any other file is an error.",
         std::bind(NotEmpty, &SimOptions::linkPath, _1, _2, _3)},
        {"--out", "DIR",
         "Folder for received images (os.bin, ext.bin); created if missing. Default: the "
         "current folder.",
         std::bind(NotEmpty, &SimOptions::outDir, _1, _2, _3)},
        {"--stats", "FILE",
         "Write transfer figures (key=value lines) to FILE after each image and on exit.",
         std::bind(NotEmpty, &SimOptions::statsFile, _1, _2, _3)},
        {"--verbose", nullptr, "Log what the device does to stderr (also -v).",
         Flag(&SimOptions::verbose, true)},
        {"--pace", nullptr,
         "Receive and send no faster than the line rate (10 bits per character at the baud "
         "rate). This is the default.",
         Flag(&SimOptions::pace, true)},
        {"--no-pace", nullptr, "Receive and send at memory speed (for quick tests).",
         Flag(&SimOptions::pace, false)},
        {"--stdin-control", nullptr,
         "Read commands from stdin: 'quit' (or end of input) stops the simulator.",
         Flag(&SimOptions::stdinControl, true)},
        {"--exit-after", "N", "Exit after N completed images (0: never; default).",
         IntField(&SimOptions::exitAfterImages, 0, kMaxInt)},
        {"--stream", nullptr,
         "In normal operation send NMEA sentences once a second like a receiver.",
         Flag(&SimOptions::stream, true)},
        {"--no-answer", nullptr, "Never answer the probe sentence.",
         Flag(&SimOptions::answerProbe, false)},
        {"--probe-reply", "TEXT",
         "Exact bytes of the probe reply; escapes \\r \\n \\t \\\\ \\xHH. Default: a $POEM101 "
         "sentence of 55 characters.",
         ParseProbeReply},
        {"--noise", nullptr,
         "While the line is at a wrong rate or framing, answer received bytes with line noise "
         "and garble what the device sends (default: nothing is heard).",
         Flag(&SimOptions::noise, true)},
        {"--restart-delay", "MS",
         "Time from an entry sentence to the boot loader's start, and from the end of a "
         "transfer back to normal operation. Default 600.",
         IntField(&SimOptions::restartDelayMs, 0, 600000)},
        {"--nak-interval", "MS",
         "Interval of the boot loader's NAK until the first packet. Default 1000.",
         IntField(&SimOptions::nakIntervalMs, 1, 600000)},
        {"--char-timeout", "MS",
         "A packet that stops arriving for MS is dropped and answered with NAK. Default 1000.",
         IntField(&SimOptions::charTimeoutMs, 1, 600000)},
        {"--boot-timeout", "MS",
         "The boot loader returns to normal operation after MS without received bytes "
         "(0: never). Default 30000.",
         IntField(&SimOptions::bootTimeoutMs, 0, kMaxInt)},
        {"--reply-delay", "MS",
         "Hold every answer (probe reply, NAK, ACK, CAN) back by MS, as a USB serial "
         "adapter's latency timer does. Default 0.",
         IntField(&SimOptions::replyDelayMs, 0, 10000)},
        {"--fault-image", "any|os|ext", "Which image the block faults below apply to. Default any.",
         ParseFaultImage},
        {"--nak-block", "N[,N...]", "NAK the first sending of these blocks; the resend is ACKed.",
         BlockList(&SimOptions::nakOnce)},
        {"--nak-always", "N[,N...]", "NAK every sending of these blocks.",
         BlockList(&SimOptions::nakAlways)},
        {"--can-block", "N[,N...]",
         "Answer these blocks with CAN; the transfer is then abandoned (see --can-ack-after).",
         BlockList(&SimOptions::canBlocks)},
        {"--can-ack-after", "MS",
         "After a CAN, keep the block and send ACK MS later instead of abandoning.",
         IntField(&SimOptions::canAckAfterMs, 0, 600000)},
        {"--ack-nak-burst", "N[,N...]",
         "Answer these blocks with ACK and NAK in one write (block kept).",
         BlockList(&SimOptions::ackNakBurst)},
        {"--nak-ack-burst", "N[,N...]",
         "Answer these blocks with NAK and ACK in one write (block kept; a resend is a "
         "duplicate).",
         BlockList(&SimOptions::nakAckBurst)},
        {"--silent-from", "N",
         "From block N on the device never sends anything again (not even to probes).",
         IntField(&SimOptions::silentFrom, 1, kMaxInt)},
        {"--silent-boot", nullptr, "The boot loader never announces itself with NAK.",
         Flag(&SimOptions::silentBoot, true)},
        {"--garbage-boot", "COUNT",
         "The boot loader sends COUNT garbage bytes, one per --garbage-gap, before its first "
         "NAK.",
         IntField(&SimOptions::garbageBoot, 0, 100000)},
        {"--garbage-block", "N[:COUNT]",
         "Send COUNT (default 1) garbage bytes, one per --garbage-gap, before the answer to "
         "block N. Repeatable.",
         ParseGarbageBlock},
        {"--garbage-gap", "MS", "Gap between single garbage or junk bytes. Default 20.",
         IntField(&SimOptions::garbageGapMs, 1, 600000)},
        {"--drop-rate", "N",
         "Lose one byte in 1 of N received packets, chosen by --seed (0: off; default).",
         IntField(&SimOptions::dropRate, 0, kMaxInt)},
        {"--corrupt-rate", "N",
         "Corrupt one byte in 1 of N received packets, chosen by --seed (0: off; default).",
         IntField(&SimOptions::corruptRate, 0, kMaxInt)},
        {"--seed", "S", "Seed of the random faults and noise. Default 1.", ParseSeed},
        {"--eot", "ack|none|nak-first|junk",
         "Answer to EOT: ACK (default), nothing, NAK the first EOT and ACK the next, or 10 "
         "junk bytes one per --garbage-gap. The image is written in every case.",
         ParseEot},
        {"--mute-after-nak", "MS",
         "For MS after each NAK that answers a packet or EOT, the device's answers are lost "
         "on the line (0: off; default).",
         IntField(&SimOptions::muteAfterNakMs, 0, kMaxInt)},
        {"--stay-after-eot", nullptr,
         "After an image's EOT the boot loader does not return to normal operation: it "
         "starts over and announces itself with NAK again (the image is still written).",
         Flag(&SimOptions::stayAfterEot, true)},
        {"--probe-tail", "N",
         "The first N probe replies begin with the tail of an earlier sentence, as a device "
         "that streams NMEA sentences answers when the probe lands mid-sentence.",
         IntField(&SimOptions::probeTails, 0, kMaxInt)},
        {"--hangup-at", "N",
         "When block N has been received, close the pseudo-terminal and exit (the device "
         "vanishes).",
         IntField(&SimOptions::hangupAt, 1, kMaxInt)},
    };
    return specs;
}

// Indented, wrapped at 80 columns.
std::string Wrap(const std::string& text) {
    std::string out;
    std::string line = "      ";
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(pos, end - pos);
        if (line.size() > 6 && line.size() + 1 + word.size() > 80) {
            out += line + "\n";
            line = "      ";
        }
        line += (line.size() > 6 ? " " : "") + word;
        pos = end + 1;
    }
    return out + line + "\n";
}

} // namespace

ParseOutcome ParseSimOptions(const std::vector<std::string>& args, SimOptions& options) {
    ParseOutcome outcome;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "-h")
            name = "--help";
        if (name == "-v")
            name = "--verbose";
        const OptionSpec* option = nullptr;
        for (const auto& s : Specs())
            if (name == s.name)
                option = &s;
        if (!option) {
            outcome.kind = ParseOutcome::Error;
            outcome.error = "unknown option '" + args[i] + "'";
            return outcome;
        }
        if (!option->apply) {
            outcome.kind = ParseOutcome::Help;
            return outcome;
        }
        if (option->arg && !hasValue) {
            if (i + 1 >= args.size()) {
                outcome.kind = ParseOutcome::Error;
                outcome.error = name + " needs a value " + option->arg;
                return outcome;
            }
            value = args[++i];
        } else if (!option->arg && hasValue) {
            outcome.kind = ParseOutcome::Error;
            outcome.error = name + " takes no value";
            return outcome;
        }
        std::string err;
        if (!option->apply(options, value, err)) {
            outcome.kind = ParseOutcome::Error;
            outcome.error = name + " " + err;
            return outcome;
        }
    }
    if (options.probeReply.empty())
        options.probeReply = DefaultProbeReply();
    return outcome;
}

std::string SimUsage() {
    std::string text =
        "Usage: quillmoor-sim [OPTION]...\n"
        "Simulated Quillmoor GPS device on a pseudo-terminal. Prints the slave's path on the\n"
        "first line of stdout, then runs until SIGTERM/SIGINT (or --exit-after, --stdin-control).\n"
        "Normal operation: answers the probe sentence at 9600 baud. The OS and external entry\n"
        "sentences restart it into a boot loader that receives 1028-byte block packets at\n"
        "115200 baud and writes the image to os.bin or ext.bin in --out.\n"
        "Exit status: 0 normal end, 1 run-time error, 2 bad command line.\n\nOptions:\n";
    for (const auto& s : Specs()) {
        std::string head = std::string("  ") + s.name;
        if (s.arg)
            head += std::string(" ") + s.arg;
        text += head + "\n" + Wrap(s.help);
    }
    return text;
}

std::string DefaultProbeReply() {
    return nmea::Sentence("POEM101,QUILLMOOR,GPS,FW,2.31,BL,1.07,SN,00012345");
}

bool UnescapeText(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            unsigned value = 0;
            const char* begin = text.data() + i + 1;
            const auto result = std::from_chars(begin, begin + 2, value, 16);
            if (result.ec != std::errc() || result.ptr != begin + 2)
                return false;
            out += static_cast<char>(value);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}
