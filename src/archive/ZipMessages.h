#pragma once

#include <QString>

// Identifiers of the ZIP component's texts; ZipMessageText gives the English text.
namespace ZipMsg {
constexpr int NoZipSpecified = 10102;
constexpr int DllAborting = 10118;
constexpr int DllUserCancelled = 10120;
constexpr int DllNoMemory = 10121;
constexpr int DllInvalidStructure = 10122;
constexpr int DllHandlerException = 10123;
constexpr int DllCritical = 10124;
constexpr int PasswordTitle = 10154;
constexpr int PasswordPrompt = 10155;
constexpr int SeekError = 10201;
constexpr int ListError = 10202;
constexpr int StructureWarning = 10203;
constexpr int GarbageWarning = 10204;
constexpr int ButtonYes = 10220;
constexpr int ButtonNo = 10221;
constexpr int ButtonOK = 10222;
constexpr int ButtonCancel = 10223;
constexpr int ButtonAbort = 10224;
constexpr int ButtonRetry = 10225;
constexpr int ButtonIgnore = 10226;
constexpr int ButtonCancelAll = 10227;
constexpr int ButtonNoToAll = 10228;
constexpr int ButtonYesToAll = 10229;
constexpr int ExtractDirMissing = 10504;
constexpr int DllLoadFailed = 10650;
constexpr int DllOldOrCorrupt = 10651;
constexpr int FileOpenError = 11002;
constexpr int EndOfCentralError = 11011;
constexpr int CentralHeaderError = 11013;
constexpr int CentralSignatureError = 11015;
constexpr int CentralNameError = 11017;
constexpr int FileCommentError = 11022;
constexpr int NotValidZip = 11036;
constexpr int OverlappingMembers = 11041;
constexpr int CannotWrite = 11051;
constexpr int NoDiskSpace = 11052;
} // namespace ZipMsg

// The text of a message identifier; "Resource missing for <id>" when it has none.
QString ZipMessageText(int id);
