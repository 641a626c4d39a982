#include "archive/ZipMessages.h"

#include <QHash>

namespace {

const QHash<int, const char*>& Texts() {
    static const QHash<int, const char*> texts{
        {ZipMsg::NoZipSpecified, "Error - no zip file specified!"},
        {ZipMsg::DllAborting, "DLL Error - Aborting"},
        {ZipMsg::DllUserCancelled, "DLL Error - User Cancelled"},
        {ZipMsg::DllNoMemory, "DLL Error - Not enough memory"},
        {ZipMsg::DllInvalidStructure, "DLL Error - Invalid structure"},
        {ZipMsg::DllHandlerException, "DLL Error - Exception in handler "},
        {ZipMsg::DllCritical, "critical DLL Error %d"},
        {ZipMsg::PasswordTitle, "Password"},
        {ZipMsg::PasswordPrompt, "Enter Password "},
        {ZipMsg::SeekError, "Seek error reading Zip archive!"},
        {ZipMsg::ListError, "Unknown error in List() function\n"},
        {ZipMsg::StructureWarning, "Warning - Error in zip structure!"},
        {ZipMsg::GarbageWarning, "Warning - Garbage at the end of the zipfile!"},
        {ZipMsg::ButtonYes, "&Yes"},
        {ZipMsg::ButtonNo, "&No"},
        {ZipMsg::ButtonOK, "&OK"},
        {ZipMsg::ButtonCancel, "&Cancel"},
        {ZipMsg::ButtonAbort, "&Abort"},
        {ZipMsg::ButtonRetry, "&Retry"},
        {ZipMsg::ButtonIgnore, "&Ignore"},
        {ZipMsg::ButtonCancelAll, "CancelAll"},
        {ZipMsg::ButtonNoToAll, "NoToAll"},
        {ZipMsg::ButtonYesToAll, "YesToAll"},
        {ZipMsg::ExtractDirMissing, "Extract directory '%s' must exist"},
        {ZipMsg::DllLoadFailed, "Failed to load %s"},
        {ZipMsg::DllOldOrCorrupt, "Unable to load %s - It is old or corrupt"},
        {ZipMsg::FileOpenError, "Zip file could not be opened"},
        {ZipMsg::EndOfCentralError, "Error while reading the End Of Central Directory"},
        {ZipMsg::CentralHeaderError, "Error while reading a central header"},
        {ZipMsg::CentralSignatureError, "A central header signature is wrong"},
        {ZipMsg::CentralNameError, "Error while reading a central file name"},
        {ZipMsg::FileCommentError, "Error while reading a file comment"},
        {ZipMsg::NotValidZip, "This archive is not a valid Zip archive"},
        {ZipMsg::OverlappingMembers,
         "Error - members of this archive overlap each other or the central directory"},
        {ZipMsg::CannotWrite, "Cannot write to %s"},
        {ZipMsg::NoDiskSpace, "Not enough disk space to extract to %s"},
    };
    return texts;
}

} // namespace

QString ZipMessageText(int id) {
    const auto it = Texts().constFind(id);
    if (it == Texts().constEnd())
        return QStringLiteral("Resource missing for ") + QString::number(id);
    return QString::fromLatin1(it.value());
}
