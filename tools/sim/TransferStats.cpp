#include "TransferStats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void TransferStats::OnPacketStart(SimTime read) {
    if (lastAck_)
        turnaroundMs_.push_back(ToMs(read - *lastAck_));
    lastAck_.reset();
}

void TransferStats::OnPacketReceived(size_t bytes, SimDuration lineTime) {
    ++packets_;
    packetBytes_ += bytes;
    lineTime_ += lineTime;
}

void TransferStats::OnImageComplete(const std::string& name, const std::string& file, size_t blocks,
                                    SimDuration transferTime) {
    ++images_;
    lastName_ = name;
    lastFile_ = file;
    lastBlocks_ = blocks;
    lastTransfer_ = transferTime;
    transferTime_ += transferTime;
    lastAck_.reset();
}

namespace {
struct Summary {
    size_t count = 0;
    double mean = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Summary Summarise(std::vector<double> values) {
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    s.count = n;
    double total = 0;
    for (const double v : values)
        total += v;
    s.mean = total / static_cast<double>(n);
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    // Nearest-rank percentile.
    const size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n)));
    s.p99 = values[std::clamp<size_t>(rank, 1, n) - 1];
    s.max = values.back();
    return s;
}

double Seconds(SimDuration d) {
    return std::chrono::duration<double>(d).count();
}
} // namespace

std::string TransferStats::Render() const {
    const Summary turn = Summarise(turnaroundMs_);
    const Summary late = Summarise(ackDelayMs_);
    char text[2048];
    std::snprintf(text, sizeof text,
                  "images_completed=%zu\n"
                  "images_abandoned=%zu\n"
                  "packets_received=%zu\n"
                  "packet_bytes=%zu\n"
                  "packets_stored=%zu\n"
                  "packets_duplicate=%zu\n"
                  "packets_bad=%zu\n"
                  "naks_sent=%zu\n"
                  "turnaround_count=%zu\n"
                  "turnaround_mean_ms=%.3f\n"
                  "turnaround_median_ms=%.3f\n"
                  "turnaround_p99_ms=%.3f\n"
                  "turnaround_max_ms=%.3f\n"
                  "ack_delay_median_ms=%.3f\n"
                  "ack_delay_p99_ms=%.3f\n"
                  "ack_delay_max_ms=%.3f\n"
                  "line_time_s=%.3f\n"
                  "transfer_time_s=%.3f\n"
                  "last_image=%s\n"
                  "last_image_file=%s\n"
                  "last_image_blocks=%zu\n"
                  "last_image_transfer_s=%.3f\n",
                  images_, abandoned_, packets_, packetBytes_, stored_, duplicates_, bad_, naks_,
                  turn.count, turn.mean, turn.median, turn.p99, turn.max, late.median, late.p99,
                  late.max, Seconds(lineTime_), Seconds(transferTime_), lastName_.c_str(),
                  lastFile_.c_str(), lastBlocks_, Seconds(lastTransfer_));
    return text;
}

bool TransferStats::WriteFile(const std::string& path) const {
    const std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f)
        return false;
    const std::string text = Render();
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}
