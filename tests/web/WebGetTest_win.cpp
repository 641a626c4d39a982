// Download cases that rest on Windows: a symbolic link at the target's name.
#include "WebGetFixture.h"

#include <windows.h>

namespace {
class WebGetWinTest : public WebGetTest {};
} // namespace

TEST_F(WebGetWinTest, NeverWritesThroughALinkAtTheTargetsName) {
    server.Route("/QLMUpdate.zip", TestRoute{.body = "zip"});
    QDir().mkpath(work);
    WriteFile(Beside("victim"), "precious");
    const QString link = Target("QLMUpdate.zip");
    const auto* wideLink = reinterpret_cast<const wchar_t*>(link.utf16());
    // Wine reports success without making a link.
    if (!CreateSymbolicLinkW(wideLink, reinterpret_cast<const wchar_t*>(Beside("victim").utf16()),
                             0) ||
        GetFileAttributesW(wideLink) == INVALID_FILE_ATTRIBUTES ||
        !(GetFileAttributesW(wideLink) & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "no symbolic links here";
    TWebGetItem& item = AddItem("/QLMUpdate.zip");
    get.Execute();
    EXPECT_FALSE(item.Done);
    EXPECT_EQ(ReadFile(Beside("victim")), "precious");
    EXPECT_EQ(errors, std::vector<int>{3});
}
