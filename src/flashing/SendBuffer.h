#pragma once

#include <QByteArrayView>
#include <array>
#include <cstdint>

// The one 1028-byte buffer every sentence, packet and EOT byte is composed in and written
// from; a resend writes its current content again, byte for byte.
class TSendBuffer {
public:
    static constexpr int Size = 1028;

    // Zeroes the buffer and places bytes at its start; the count to write.
    int Compose(QByteArrayView bytes);
    // Zeroes the buffer and places one byte; 1.
    int ComposeByte(uint8_t byte);

    uint8_t* Data() { return bytes_.data(); }
    const uint8_t* Data() const { return bytes_.data(); }

private:
    std::array<uint8_t, Size> bytes_{};
};
