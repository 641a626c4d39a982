#include "app/CommandLine.h"

#include <gtest/gtest.h>

using Action = CommandLine::Action;

TEST(CommandLine, ReadsOptionsAndFirmwareFiles) {
    struct Case {
        QStringList arguments;
        Action action;
        QStringList files;
    } cases[] = {
        {{}, Action::Run, {}},
        {{"QLMUpdate.zip"}, Action::Run, {"QLMUpdate.zip"}},
        {{"/media/usb/FIRMWARE.ZIP"}, Action::Run, {"/media/usb/FIRMWARE.ZIP"}},
        {{"OS.bin", "EXT.BIN"}, Action::Run, {"OS.bin", "EXT.BIN"}},
        {{"--", "-odd name.zip"}, Action::Run, {"-odd name.zip"}},
        {{"--help"}, Action::Help, {}},
        {{"-h", "QLMUpdate.zip"}, Action::Help, {}},
        {{"--version"}, Action::Version, {}},
        {{"--verbose"}, Action::Error, {}},
        {{"notes.txt"}, Action::Error, {"notes.txt"}},
        {{"OS.bin"}, Action::Error, {"OS.bin"}},
        {{"a.zip", "b.zip"}, Action::Error, {"a.zip", "b.zip"}},
        {{"OS.bin", "EXT.bin", "more.bin"}, Action::Error, {"OS.bin", "EXT.bin", "more.bin"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const CommandLine line = CommandLine::Parse(c.arguments);
        EXPECT_EQ(line.action, c.action);
        if (c.action != Action::Help && c.action != Action::Version) {
            EXPECT_EQ(line.files, c.files);
        }
        EXPECT_EQ(line.error.isEmpty(), c.action != Action::Error);
    }
}

TEST(CommandLine, UsageNamesTheEnvironmentAndVersionTheNumber) {
    const QString usage = CommandLine::Usage("quillmoor-updater");
    EXPECT_TRUE(usage.startsWith("Usage: quillmoor-updater [FILE...]\n"));
    EXPECT_TRUE(usage.contains("QLM_UPDATE_SERVER"));
    EXPECT_TRUE(usage.contains("QLM_EXTRA_PORTS"));
    EXPECT_EQ(CommandLine::VersionText("quillmoor-updater"), "quillmoor-updater 1.01\n");
}
