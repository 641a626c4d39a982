#include "serial/EComPort.h"
#include "serial/TComPort.h"

#include <gtest/gtest.h>

TEST(ComErrorTest, CodeTexts) {
    const struct {
        int code;
        const char* text;
    } rows[] = {
        {1, "Unable to open com port"},
        {2, "WriteFile function failed"},
        {10, "ClearCommError function failed"},
        {14, "Cannot set property while connected"},
        {23, "Registry error"},
        {0, "Unknown Error #0"},
        {24, "Unknown Error #24"},
        {255, "Unknown Error #255"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ComErrorText(static_cast<uint8_t>(row.code)), QString::fromLatin1(row.text))
            << row.code;
}

TEST(ComErrorTest, MessageForms) {
    // The system's own in-use error: EBUSY on Unix, a sharing violation on Windows.
    int inUseErrors = 0;
    for (const uint32_t error : {16u, 32u}) {
        if (!TCustomComPort::InUseError(error))
            continue;
        ++inUseErrors;
        const EComPortExt ext(CE_OpenFailed, error, QStringLiteral("ttyUSB0"));
        EXPECT_EQ(ext.Message(),
                  QStringLiteral("COM Port Error: Unable to open com port on ttyUSB0: "
                                 "in use by another program"));
        EXPECT_EQ(ext.Code, 1);
        EXPECT_EQ(ext.WinCode, error);
    }
    EXPECT_EQ(inUseErrors, 1);

    const EComPort plain(QStringLiteral("COM7"), CE_ConnChangeProp);
    EXPECT_EQ(plain.Message(), QStringLiteral("COM7 Error: Cannot set property while connected"));

    const EComPortExt unknown(42, 0, QStringLiteral("EnumComPorts"));
    EXPECT_EQ(unknown.Message(),
              QStringLiteral("COM Port Error: Unknown Error #42 on EnumComPorts"));
}

// A port claimed by another program is refused like a held open (code 1, the system's in-use
// error), but says so, where a held open can only say that it failed.
TEST(ComErrorTest, ClaimedPortSaysItIsInUse) {
    const EComPortClaimed claimed(11, QStringLiteral("/dev/pts/3"));
    EXPECT_EQ(claimed.Message(),
              QStringLiteral("COM Port Error: the port is in use by another program: /dev/pts/3"));
    EXPECT_EQ(claimed.Code, CE_OpenFailed);
    EXPECT_EQ(claimed.WinCode, 11u);
    const EComPortExt& asOpenError = claimed;
    EXPECT_EQ(asOpenError.Code, CE_OpenFailed);
}
