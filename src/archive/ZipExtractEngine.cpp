#include "archive/ZipExtractEngine.h"

#include "archive/ExtractDir.h"
#include "archive/ZipDirectoryReader.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>
#include <zlib.h>

using namespace ZipBytes;

namespace {

constexpr uint16_t MethodStored = 0;
constexpr uint16_t MethodDeflated = 8;
constexpr uint16_t FlagDataDescriptor = 0x0008;
constexpr uint16_t FlagStrongEncryption = 0x0040;
constexpr int CryptHeaderSize = 12;
constexpr int ChunkSize = 64 * 1024;
constexpr int MaxPasswordRequests = 15;
// Decode's result when the run is to stop; no fault of the member.
constexpr int DecodeStopped = -1;

// Traditional PKWARE stream cipher.
class TZipCrypt {
public:
    explicit TZipCrypt(const QByteArray& password) {
        for (char c : password)
            Update(uint8_t(c));
    }
    void Decrypt(char* data, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            const uint8_t plain = uint8_t(data[i]) ^ KeyByte();
            Update(plain);
            data[i] = char(plain);
        }
    }

private:
    static uint32_t Crc(uint32_t crc, uint8_t b) {
        static const z_crc_t* table = get_crc_table();
        return table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    uint8_t KeyByte() const {
        const uint32_t t = (m_keys[2] | 2) & 0xFFFF;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    void Update(uint8_t b) {
        m_keys[0] = Crc(m_keys[0], b);
        m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
        m_keys[2] = Crc(m_keys[2], uint8_t(m_keys[1] >> 24));
    }
    uint32_t m_keys[3] = {305419896u, 591751049u, 878082192u};
};

// Streams one member's data from the archive through decryption and decoding into fd.
// step runs after every piece written and tells whether to stop.
class TMemberDecoder {
public:
    TMemberDecoder(QIODevice& archive, const TZipDirEntry& entry, int64_t pos, int64_t length,
                   TZipCrypt* crypt, const std::function<bool()>& step)
        : m_archive(archive), m_entry(entry), m_pos(pos), m_left(length), m_crypt(crypt),
          m_step(step), m_in(ChunkSize) {}

    // 0 when the member was written whole and its CRC matches, DecodeStopped when step
    // asked to stop, else an engine code.
    int Decode(int fd) {
        const int rc = m_entry.ComprMethod == MethodStored ? Copy(fd) : Inflate(fd);
        if (rc != 0)
            return rc;
        if (m_written != m_entry.UncomprSize)
            return ZipEngineCode::BadSize;
        return m_crc == m_entry.CRC32 ? 0 : ZipEngineCode::BadCrc;
    }

private:
    // Next piece of input; false when none is left or it cannot be read.
    bool ReadChunk(size_t& got) {
        got = size_t(std::min<int64_t>(m_left, ChunkSize));
        if (got == 0 || !ReadAt(m_archive, m_pos, m_in.data(), int64_t(got)))
            return false;
        if (m_crypt)
            m_crypt->Decrypt(m_in.data(), got);
        m_pos += int64_t(got);
        m_left -= int64_t(got);
        return true;
    }

    int Emit(int fd, const char* data, size_t length) {
        if (length == 0)
            return 0;
        if (length > m_entry.UncomprSize - m_written)
            return ZipEngineCode::BadSize;
        if (!TExtractDir::WriteAll(fd, data, length))
            return ZipEngineCode::WriteError;
        m_crc = uint32_t(crc32(m_crc, reinterpret_cast<const Bytef*>(data), uInt(length)));
        m_written += length;
        return m_step() ? DecodeStopped : 0;
    }

    int Copy(int fd) {
        while (m_left > 0) {
            size_t got = 0;
            if (!ReadChunk(got))
                return ZipEngineCode::BadData;
            if (const int rc = Emit(fd, m_in.data(), got))
                return rc;
        }
        return 0;
    }

    int Inflate(int fd) {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            return ZipEngineCode::BadData;
        std::vector<char> out(ChunkSize);
        int rc = 0;
        for (;;) {
            if (z.avail_in == 0 && m_left > 0) {
                size_t got = 0;
                if (!ReadChunk(got)) {
                    rc = ZipEngineCode::BadData;
                    break;
                }
                z.next_in = reinterpret_cast<Bytef*>(m_in.data());
                z.avail_in = uInt(got);
            }
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = uInt(out.size());
            const int zr = inflate(&z, Z_NO_FLUSH);
            if (zr != Z_OK && zr != Z_STREAM_END && zr != Z_BUF_ERROR) {
                rc = ZipEngineCode::BadData;
                break;
            }
            rc = Emit(fd, out.data(), out.size() - z.avail_out);
            if (rc != 0 || zr == Z_STREAM_END)
                break;
            // No progress possible: the stream ends before its end marker.
            if (zr == Z_BUF_ERROR && z.avail_in == 0 && m_left == 0) {
                rc = ZipEngineCode::BadData;
                break;
            }
        }
        inflateEnd(&z);
        return rc;
    }

    QIODevice& m_archive;
    const TZipDirEntry& m_entry;
    int64_t m_pos;
    int64_t m_left;
    TZipCrypt* m_crypt;
    const std::function<bool()>& m_step;
    std::vector<char> m_in;
    uint32_t m_crc = 0;
    uint64_t m_written = 0;
};

bool IsOnlyDots(const QString& name) {
    return std::all_of(name.begin(), name.end(), [](QChar c) { return c == QLatin1Char('.'); });
}

// Outcome of one member besides the engine codes (above 0) and ZipEngineResult (below 0).
constexpr int MemberWritten = 0;
constexpr int MemberKept = 1000; // an existing file of that name stays; nothing to report

// One Run of the engine: its callbacks, the stop that stays once asked for, and the password
// that opened the last encrypted member.
class TExtractRun {
public:
    TExtractRun(const TZipExtractEngine::Callbacks& callbacks, QByteArray password, int requests)
        : m_callbacks(callbacks), m_lastGood(std::move(password)), m_requests(requests),
          m_step([this] { return Step(); }) {}

    bool Stopping() const { return m_stopping; }

    // Lets events run; true once a stop has been asked for.
    bool Step() {
        if (m_callbacks.Pump)
            m_callbacks.Pump();
        m_stopping = m_stopping || (m_callbacks.Stop && m_callbacks.Stop());
        return m_stopping;
    }

    void Report(int code, const QString& name) {
        if (m_callbacks.Report)
            m_callbacks.Report(code, name);
        Step();
    }

    // Unpacks one member into target: MemberWritten, MemberKept, an engine code to report,
    // or a ZipEngineResult that ends the run.
    int Extract(QIODevice& archive, const TZipDirEntry& entry, const TExtractDir& target) {
        const QString name = ZipOutputName(entry.FileName);
        if (name.isEmpty())
            return ZipEngineCode::UnsafeName;
        if ((entry.ComprMethod != MethodStored && entry.ComprMethod != MethodDeflated) ||
            (entry.Flag & FlagStrongEncryption))
            return ZipEngineCode::UnsupportedMethod;
        // An existing file is kept; that is the configured behaviour, not an error.
        if (target.Exists(name))
            return MemberKept;

        int64_t dataPos = 0;
        int64_t dataLen = 0;
        if (!Locate(archive, entry, dataPos, dataLen))
            return ZipEngineCode::BadLocalHeader;
        std::unique_ptr<TZipCrypt> crypt;
        if (entry.Encrypted) {
            if (const int rc = Unlock(archive, entry, dataPos, dataLen, crypt))
                return rc;
        }
        if (entry.ComprMethod == MethodStored && dataLen != entry.UncomprSize)
            return ZipEngineCode::BadSize;

        const int fd = target.CreateNew(name);
        if (fd < 0)
            return errno == EEXIST ? MemberKept : ZipEngineCode::WriteError;
        TMemberDecoder decoder(archive, entry, dataPos, dataLen, crypt.get(), m_step);
        int rc = decoder.Decode(fd);
        // A member that is not exactly what the archive says (or was cut off by a stop) must
        // not be mistaken for a good one later.
        if (rc != 0)
            target.Discard(fd, name);
        if (!TExtractDir::Close(fd) && rc == 0) {
            rc = ZipEngineCode::WriteError;
            target.Remove(name);
        }
        return rc == DecodeStopped ? ZipEngineResult::Aborting : rc;
    }

private:
    // Where the member's data lies, checked against the local header and the archive's end.
    static bool Locate(QIODevice& archive, const TZipDirEntry& entry, int64_t& pos,
                       int64_t& length) {
        char local[LocalHeaderSize];
        if (!ReadAt(archive, entry.RelOffLocalHdr, local, LocalHeaderSize) ||
            Get32(local) != LocalSignature)
            return false;
        pos =
            int64_t(entry.RelOffLocalHdr) + LocalHeaderSize + Get16(local + 26) + Get16(local + 28);
        length = entry.ComprSize;
        return pos <= archive.size() && length <= archive.size() - pos;
    }

    // Finds the key of an encrypted member: the last good password first, then as many
    // requests as configured. On success crypt is set and pos and length skip the
    // encryption header; otherwise an engine code or a ZipEngineResult.
    int Unlock(QIODevice& archive, const TZipDirEntry& entry, int64_t& pos, int64_t& length,
               std::unique_ptr<TZipCrypt>& crypt) {
        char header[CryptHeaderSize];
        if (length < CryptHeaderSize || !ReadAt(archive, pos, header, CryptHeaderSize))
            return ZipEngineCode::BadLocalHeader;
        const uint8_t check = (entry.Flag & FlagDataDescriptor) ? uint8_t(entry.ModifTime >> 8)
                                                                : uint8_t(entry.CRC32 >> 24);
        const auto opens = [&](const QByteArray& password) {
            auto candidate = std::make_unique<TZipCrypt>(password);
            char h[CryptHeaderSize];
            std::copy(header, header + CryptHeaderSize, h);
            candidate->Decrypt(h, CryptHeaderSize);
            if (uint8_t(h[CryptHeaderSize - 1]) != check)
                return false;
            crypt = std::move(candidate);
            return true;
        };
        int code = ZipEngineCode::NoPassword;
        if (m_lastGood.isEmpty() || !opens(m_lastGood)) {
            for (int i = 0; i < m_requests && m_callbacks.AskPassword && !crypt; ++i) {
                const TZipPasswordReply reply = m_callbacks.AskPassword(entry.FileName);
                // A stop asked for while the dialog was open outranks its answer.
                if (Step())
                    return ZipEngineResult::Aborting;
                if (reply.Answer == TZipPasswordAnswer::CancelAll)
                    return ZipEngineResult::UserCancelled;
                if (reply.Answer == TZipPasswordAnswer::Cancel || reply.Password.isEmpty())
                    break;
                code = ZipEngineCode::WrongPassword;
                if (opens(reply.Password.toLocal8Bit()))
                    m_lastGood = reply.Password.toLocal8Bit();
            }
        }
        if (!crypt)
            return code;
        pos += CryptHeaderSize;
        length -= CryptHeaderSize;
        return 0;
    }

    const TZipExtractEngine::Callbacks& m_callbacks;
    QByteArray m_lastGood;
    const int m_requests;
    const std::function<bool()> m_step;
    bool m_stopping = false;
};

} // namespace

QString ZipOutputName(const QString& memberName) {
    qsizetype cut = -1;
    for (qsizetype i = 0; i < memberName.size(); ++i) {
        const QChar c = memberName.at(i);
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':'))
            cut = i;
    }
    const QString name = memberName.mid(cut + 1);
    if (name.isEmpty() || IsOnlyDots(name) || name.contains(QChar(0)))
        return {};
    return name;
}

int TZipExtractEngine::Run(QIODevice& archive, const QList<TZipDirEntry>& entries,
                           const TExtractDir& target, const Callbacks& callbacks) {
    TExtractRun run(callbacks, Password.toLocal8Bit(),
                    std::clamp(PasswordReqCount, 0, MaxPasswordRequests));
    int written = 0;
    for (const TZipDirEntry& entry : entries) {
        if (run.Stopping() || run.Step())
            return ZipEngineResult::Aborting;
        const int rc = run.Extract(archive, entry, target);
        if (rc < 0)
            return rc;
        if (rc == MemberWritten) {
            ++written;
            run.Step();
        } else if (rc != MemberKept) {
            run.Report(rc, entry.FileName);
        }
    }
    return run.Stopping() ? ZipEngineResult::Aborting : written;
}
