// Where members go on Windows, for each answer the system may give about the folder.
#include "archive/MemberFolder.h"

#include <gtest/gtest.h>

TEST(MemberFolder, TheFinalPathOrElseThePathTheFolderWasOpenedBy) {
    // Volumes the mount manager does not know (RAM disks, some virtual drives) have no path
    // with a drive letter: members still go where the folder was opened.
    EXPECT_EQ(MemberFolder::Base("\\\\?\\C:\\Temp\\QLMUpdate", "\\\\?\\C:\\Temp\\QLMUPD~1"),
              "\\\\?\\C:\\Temp\\QLMUpdate");
    EXPECT_EQ(MemberFolder::Base("", "\\\\?\\R:\\Temp\\QLMUpdate"), "\\\\?\\R:\\Temp\\QLMUpdate");
    EXPECT_EQ(MemberFolder::Join("\\\\?\\R:\\Temp\\QLMUpdate", "QLM_OS.bin"),
              "\\\\?\\R:\\Temp\\QLMUpdate\\QLM_OS.bin");
    EXPECT_EQ(MemberFolder::Join("\\\\?\\R:\\", "QLM_OS.bin"), "\\\\?\\R:\\QLM_OS.bin");
}

TEST(MemberFolder, AFileLiesInTheFolderOnlyDirectlyByItsOwnName) {
    const QString folder = "\\Device\\Ramdisk0\\Temp\\QLMUpdate";
    struct Case {
        const char* what;
        QString file;
        QString folder;
        bool inside;
    } cases[] = {
        {"directly inside", folder + "\\QLM_OS.bin", folder, true},
        {"the system's own letter case", "\\Device\\RAMDISK0\\TEMP\\QLMUPDATE\\qlm_os.BIN", folder,
         true},
        {"a sub-folder", folder + "\\sub\\QLM_OS.bin", folder, false},
        {"a sibling with the same start", folder + "2\\QLM_OS.bin", folder, false},
        {"redirected elsewhere", "\\Device\\HarddiskVolume2\\Users\\x\\QLM_OS.bin", folder, false},
        {"another name", folder + "\\QLM_EXT.bin", folder, false},
        {"file path unknown", "", folder, false},
        {"folder path unknown", folder + "\\QLM_OS.bin", "", false},
        {"a drive's root", "\\\\?\\R:\\QLM_OS.bin", "\\\\?\\R:\\", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MemberFolder::LiesIn(c.file, c.folder, "QLM_OS.bin"), c.inside) << c.what;
}

// The device path decides where the system gives it for both; where it does not (a path too
// long for it), the path within the volume does, the volume included.
TEST(MemberFolder, TheDevicePathDecidesWhereKnownElseThePathInTheVolume) {
    const MemberFolder::Place folder{"\\Device\\HarddiskVolume2\\Temp\\QLMUpdate",
                                     "5a000000\\Temp\\QLMUpdate"};
    struct Case {
        const char* what;
        MemberFolder::Place file;
        MemberFolder::Place folder;
        bool inside;
    } cases[] = {
        {"both known and inside",
         {folder.device + "\\QLM_OS.bin", folder.inVolume + "\\QLM_OS.bin"},
         folder,
         true},
        {"the device path says elsewhere",
         {"\\Device\\HarddiskVolume3\\Temp\\QLMUpdate\\QLM_OS.bin",
          folder.inVolume + "\\QLM_OS.bin"},
         folder,
         false},
        {"no device path for the file", {"", folder.inVolume + "\\QLM_OS.bin"}, folder, true},
        {"no device path for the folder",
         {folder.device + "\\QLM_OS.bin", folder.inVolume + "\\QLM_OS.bin"},
         {"", folder.inVolume},
         true},
        {"the same path on another volume",
         {"", "6b000000\\Temp\\QLMUpdate\\QLM_OS.bin"},
         folder,
         false},
        {"nothing known", {"", ""}, folder, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MemberFolder::LiesIn(c.file, c.folder, "QLM_OS.bin"), c.inside) << c.what;
}
