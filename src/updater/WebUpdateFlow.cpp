#include "updater/WebUpdateFlow.h"

#include "app/FileUtils.h"
#include "archive/ZipDirEntry.h"
#include "archive/ZipUnpacker.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/FirmwareImage.h"
#include "flashing/UpdaterView.h"
#include "web/WebGet.h"
#include "web/WebText.h"

#include <QFileInfo>
#include <QStringList>

WebUpdateFlow::WebUpdateFlow(TWebText& webText, TWebGet& webGet, TZipUnpacker& zip,
                             DeviceFlasher& flasher, UpdaterView& view, WebFlowControls& controls)
    : webText_(webText), webGet_(webGet), zip_(zip), flasher_(flasher), view_(view),
      controls_(controls) {}

bool WebUpdateFlow::Run() {
    running_ = true;
    cancelled_ = false;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};

    view_.AppendLine(QStringLiteral("-> DOWNLOAD FIRMWARE FROM SERVER"));
    webText_.Collect(); // a failed fetch keeps the text of an earlier one
    QStringList lines;
    SplitText(QLatin1Char('\n'), webText_.Data[0].Text, lines);
    if (lines.size() < 2 || cancelled_) {
        Fail();
        return false;
    }
    const QString version = lines[1];
    controls_.SetWebCaption(QStringLiteral("Firmware Webcheck (Vers.: %1)").arg(version));

    webGet_.Execute();
    const QString package = AddBackslash(flasher_.WorkDirectory()) + PackageName;
    if (!QFileInfo(package).isFile() || cancelled_) {
        Fail();
        return false;
    }
    view_.ExtendLastLine(QStringLiteral("  [OK]"));
    view_.AppendLine(QStringLiteral("-> CHECKING FIRMWARE FILE"));
    if (!CheckFirmwarePackage(package)) {
        Fail();
        return false;
    }
    controls_.SetWebButtonEnabled(false);
    view_.ExtendLastLine(QStringLiteral("  [OK] -> VERS.: ") + version);
    return true;
}

void WebUpdateFlow::Cancel() {
    if (!running_)
        return;
    cancelled_ = true;
    webText_.Cancel();
    webGet_.Cancel();
}

bool WebUpdateFlow::CheckFirmwarePackage(const QString& packagePath) {
    zip_.ExtrBaseDir = flasher_.WorkDirectory();
    zip_.ExtractFilter = IsFirmwareImageMember;
    zip_.SetZipFileName(packagePath);
    zip_.Extract(); // problems were shown by the component; the files decide
    if (!flasher_.ClassifyImages(flasher_.WorkDirectory()))
        return false;
    controls_.SetUpdateButtonEnabled(true);
    return true;
}

void WebUpdateFlow::Fail() {
    view_.ExtendLastLine(QStringLiteral("  [ERROR]"));
    view_.AppendLine(QStringLiteral(" "));
    view_.AppendLine(QStringLiteral("[NOTE: YOU MUST BE CONNECTED TO THE INTERNET]"));
}

bool IsFirmwareImageMember(const TZipDirEntry& entry) {
    return entry.FileName.endsWith(QStringLiteral(".bin"), Qt::CaseInsensitive) &&
           (entry.UncomprSize == uint32_t(ImageClass::OSSize) ||
            entry.UncomprSize == uint32_t(ImageClass::ExtSize));
}
