#pragma once

#include <QString>

// Where members are made on Windows, decided from what the system says about the folder's
// handle; apart from the system calls, so that each answer the system may give can be tried.
namespace MemberFolder {

// The path members are made under: the folder's final path as the system resolves its
// handle, or, when the system gives none in drive-letter form (volumes the mount manager does
// not know, such as RAM disks and some virtual drives), the path the folder was opened by.
QString Base(const QString& finalPath, const QString& openedPath);

// A member's path in the folder at base, also when base ends in a separator (a drive's root).
QString Join(const QString& base, const QString& name);

// Whether the file that the system places at filePath is the member name directly in the
// folder that it places at folderPath (both in one form); false when either is unknown.
bool LiesIn(const QString& filePath, const QString& folderPath, const QString& name);

// What the system says of a handle's place: its device path ("\Device\HarddiskVolume2\...",
// which long paths may lack), and its path within the volume after the volume's serial
// number, known on every volume.
struct Place {
    QString device;
    QString inVolume;
};

// The same, by the device paths where both are known, else by the paths within the volume.
bool LiesIn(const Place& file, const Place& folder, const QString& name);

} // namespace MemberFolder
