#include "flashing/SendBuffer.h"

#include <algorithm>
#include <cstring>

int TSendBuffer::Compose(QByteArrayView bytes) {
    bytes_.fill(0);
    const int count = static_cast<int>(std::min<qsizetype>(bytes.size(), Size));
    std::memcpy(bytes_.data(), bytes.data(), static_cast<size_t>(count));
    return count;
}

int TSendBuffer::ComposeByte(uint8_t byte) {
    bytes_.fill(0);
    bytes_[0] = byte;
    return 1;
}
