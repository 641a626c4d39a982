#pragma once

#include "archive/ZipDirEntry.h"
#include "archive/ZipPassword.h"

#include <QIODevice>
#include <functional>

class TExtractDir;

// Codes the engine reports for a member it did not write.
namespace ZipEngineCode {
constexpr int UnsafeName = 1;        // the name has no usable file part
constexpr int UnsupportedMethod = 2; // neither stored nor deflated, or strong encryption
constexpr int BadLocalHeader = 3;    // local header missing or data outside the file
constexpr int NoPassword = 4;        // no password given
constexpr int WrongPassword = 5;
constexpr int BadSize = 6; // data larger or smaller than declared
constexpr int BadData = 7; // the deflate stream is damaged or cut short
constexpr int BadCrc = 8;
constexpr int WriteError = 9;
} // namespace ZipEngineCode

// Engine results below zero.
namespace ZipEngineResult {
constexpr int UserCancelled = -1;
constexpr int Aborting = -2;
constexpr int HandlerException = -3;
constexpr int NoMemory = -4;
constexpr int InvalidStructure = -5;
constexpr int Exception = -7;
} // namespace ZipEngineResult

// Unpacks the members of an archive into one directory, each under its file name alone.
// Members are decoded (stored or deflated, optionally with traditional encryption) and
// their CRC-32 checked; a member that fails any check leaves no file behind. A run ended by
// Stop gives Aborting and removes the member it was writing; members already written stay.
class TZipExtractEngine {
public:
    struct Callbacks {
        std::function<void()> Pump; // after every step
        std::function<bool()> Stop; // asked after every Pump; true ends the run at once
        std::function<void(int code, const QString&)> Report; // member skipped or failed
        TZipPasswordPrompt AskPassword;                       // empty: never ask
    };

    QString Password;         // tried first on encrypted members
    int PasswordReqCount = 1; // prompts per member, at most 15

    // Gives the number of members written, or a negative ZipEngineResult.
    int Run(QIODevice& archive, const QList<TZipDirEntry>& entries, const TExtractDir& target,
            const Callbacks& callbacks);
};

// The name a member is written under: its file part alone (after the last '/', '\\' or
// drive colon); empty when it has none that could be written safely.
QString ZipOutputName(const QString& memberName);
