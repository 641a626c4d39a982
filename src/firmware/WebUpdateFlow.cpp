#include "firmware/WebUpdateFlow.h"

#include "app/FileUtils.h"
#include "archive/ZipUnpacker.h"
#include "firmware/FirmwareStaging.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/UpdaterView.h"
#include "web/WebFailure.h"
#include "web/WebGet.h"
#include "web/WebText.h"

#include <QFileInfo>
#include <QScopedValueRollback>
#include <QStringList>

WebUpdateFlow::WebUpdateFlow(TWebText& webText, TWebGet& webGet, TZipUnpacker& zip,
                             DeviceFlasher& flasher, UpdaterView& view, FirmwareControls& controls)
    : webText_(webText), webGet_(webGet), zip_(zip), flasher_(flasher), view_(view),
      controls_(controls) {}

bool WebUpdateFlow::Run() {
    cancelled_ = false;
    const QScopedValueRollback busy(running_, true);

    view_.AppendLine(QStringLiteral("-> DOWNLOAD FIRMWARE FROM SERVER"));
    webText_.Collect(); // a failed fetch keeps the text of an earlier one
    QStringList lines;
    SplitText(QLatin1Char('\n'), webText_.Data[0].Text, lines);
    if (lines.size() < 2 || cancelled_) {
        const WebFailure& failure = webText_.Data[0].Failure;
        if (cancelled_ || !webText_.Data[0].Found)
            Fail(failure);
        else // the server answered, with a file that is not the version file
            Fail({QStringLiteral("[NOTE: THE SERVER'S VERSION FILE HAS NO VERSION LINE]")});
        return false;
    }
    const QString version = lines[1];
    controls_.SetWebCaption(QStringLiteral("Firmware Webcheck (Vers.: %1)").arg(version));

    // Nothing of an earlier attempt may be checked, or flashed, with this one.
    FirmwareStaging staging(flasher_.WorkDirectory());
    if (!staging.Usable()) {
        // Never a download into a folder that was not made private, or into no folder.
        view_.ExtendLastLine(QStringLiteral("  [ERROR]"));
        view_.AppendLine(staging.UnusableNote());
        return false;
    }
    if (webGet_.Items.Count() > 0)
        webGet_.Items[0].TargetDir = staging.Path();
    webGet_.Execute();
    if (!QFileInfo(staging.PackagePath()).isFile() || cancelled_) {
        Fail(cancelled_ || webGet_.Items.Count() == 0 ? WebFailure() : webGet_.Items[0].Failure);
        return false;
    }
    view_.ExtendLastLine(QStringLiteral("  [OK]"));
    view_.AppendLine(QStringLiteral("-> CHECKING FIRMWARE FILE"));
    const FirmwareStaging::Unpacked unpacked = staging.UnpackPackage(zip_, cancelled_);
    if (cancelled_) {
        Fail(WebFailure());
        return false;
    }
    if (unpacked == FirmwareStaging::Unpacked::SeveralImages) {
        Fail({QStringLiteral("[NOTE: THE PACKAGE HOLDS MORE THAN ONE IMAGE OF A SIZE]")});
        return false;
    }
    if (unpacked != FirmwareStaging::Unpacked::Images) {
        Fail({QStringLiteral("[NOTE: THE PACKAGE DOES NOT HOLD THE TWO FIRMWARE IMAGES]"),
              staging.FoundNote()});
        return false;
    }
    if (!staging.Adopt(flasher_)) {
        Fail({QStringLiteral("[NOTE: THE IMAGES COULD NOT BE MOVED INTO PLACE]")});
        return false;
    }
    controls_.SetUpdateButtonEnabled(true);
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
    zip_.Cancel();
}

void WebUpdateFlow::Fail(const WebFailure& failure) {
    // Where the server answered, a word about the internet connection would mislead; where
    // nothing is known (a cancel), it stays as it always was.
    QStringList notes;
    if (failure.Failed())
        notes << failure.Note();
    if (!failure.Failed() || failure.NetworkMayBeAtFault())
        notes << QStringLiteral("[NOTE: YOU MUST BE CONNECTED TO THE INTERNET]");
    Fail(notes);
}

void WebUpdateFlow::Fail(const QStringList& notes) {
    view_.ExtendLastLine(QStringLiteral("  [ERROR]"));
    view_.AppendLine(QStringLiteral(" "));
    for (const QString& note : notes)
        view_.AppendLine(note);
}
