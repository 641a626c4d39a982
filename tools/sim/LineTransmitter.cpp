#include "LineTransmitter.h"

#include <algorithm>

void LineTransmitter::Send(Chunk chunk) {
    if (!chunk.bytes.empty())
        queue_.push_back(std::move(chunk));
}

void LineTransmitter::SendAfterCurrent(Chunk chunk) {
    if (chunk.bytes.empty())
        return;
    auto pos = queue_.begin();
    if (pos != queue_.end() && pos->sent > 0)
        ++pos;
    queue_.insert(pos, std::move(chunk));
}

SimTime LineTransmitter::NextDue() const {
    if (queue_.empty())
        return kNever;
    return std::max(lineFree_, queue_.front().notBefore);
}

std::vector<LineTransmitter::Piece> LineTransmitter::TakeDue(SimTime now) {
    std::vector<Piece> pieces;
    while (!queue_.empty()) {
        Chunk& c = queue_.front();
        const SimTime due = std::max(lineFree_, c.notBefore);
        if (due > now)
            break;
        const size_t count = c.burst ? c.bytes.size() - c.sent : 1;
        const bool startsChunk = c.sent == 0;
        if (pieces.empty() || pieces.back().rate != c.rate || pieces.back().noise != c.noise ||
            c.burst || (startsChunk && c.ack)) {
            pieces.push_back(Piece{{}, c.rate, c.noise, startsChunk && c.ack, due});
        }
        pieces.back().bytes.append(c.bytes, c.sent, count);
        c.sent += count;
        // Absolute deadlines: a late wake-up does not stretch the average rate.
        lineFree_ = due + CharTimeOf(c) * static_cast<int64_t>(count);
        // Read before the chunk may be destroyed below.
        const bool ownWrite = pieces.back().ack || c.burst;
        if (c.sent == c.bytes.size())
            queue_.pop_front();
        if (!pieces.back().bytes.empty() && ownWrite)
            pieces.push_back(Piece{}); // keep such writes on their own
    }
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(),
                                [](const Piece& p) { return p.bytes.empty(); }),
                 pieces.end());
    return pieces;
}
