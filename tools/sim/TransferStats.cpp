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

std::string TransferStats::Render() const {
    std::vector<double> sorted = turnaroundMs_;
    std::sort(sorted.begin(), sorted.end());
    auto rank = [&](double q) {
        if (sorted.empty())
            return 0.0;
        // Nearest-rank percentile.
        const size_t r = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
        return sorted[std::clamp<size_t>(r, 1, sorted.size()) - 1];
    };
    double median = 0.0;
    if (!sorted.empty()) {
        const size_t n = sorted.size();
        median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    }
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
                  "turnaround_median_ms=%.3f\n"
                  "turnaround_p99_ms=%.3f\n"
                  "turnaround_max_ms=%.3f\n"
                  "line_time_s=%.3f\n"
                  "transfer_time_s=%.3f\n"
                  "last_image=%s\n"
                  "last_image_file=%s\n"
                  "last_image_blocks=%zu\n"
                  "last_image_transfer_s=%.3f\n",
                  images_, abandoned_, packets_, packetBytes_, stored_, duplicates_, bad_, naks_,
                  sorted.size(), median, rank(0.99), sorted.empty() ? 0.0 : sorted.back(),
                  std::chrono::duration<double>(lineTime_).count(),
                  std::chrono::duration<double>(transferTime_).count(), lastName_.c_str(),
                  lastFile_.c_str(), lastBlocks_,
                  std::chrono::duration<double>(lastTransfer_).count());
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
