#include "updater/FirmwareFileOpener.h"

#include "app/ErrorReport.h"
#include "firmware/FirmwareFileLoader.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

FirmwareFileOpener::FirmwareFileOpener(QWidget* window, QWidget* fileGroup, LoadFunction load,
                                       std::function<bool()> refused, std::function<void()> beep)
    : QObject(window), window_(window), group_(fileGroup), load_(std::move(load)),
      refused_(std::move(refused)), beep_(std::move(beep)) {
    open_ = new QAction(QStringLiteral("Open firmware file\u2026"), window);
    open_->setShortcut(QKeySequence::Open);
    open_->setShortcutContext(Qt::WindowShortcut);
    window->addAction(open_); // Ctrl+O works whatever the buttons' state
    connect(open_, &QAction::triggered, this, [this] { RunGuarded([this] { Open(); }); });
    FileChooser = [](QWidget* parent, const QString& folder) {
        return QFileDialog::getOpenFileNames(parent, QStringLiteral("Open firmware file"), folder,
                                             QStringLiteral("Firmware files (*.zip *.bin)"));
    };
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    group_->setToolTip(QStringLiteral("Right click here or press Ctrl+O to open another firmware "
                                      "file; files can also be dropped on the window."));
    group_->installEventFilter(this);
    for (QWidget* child : group_->findChildren<QWidget*>())
        child->installEventFilter(this);
}

void FirmwareFileOpener::Open() {
    if (refused_()) {
        beep_();
        return;
    }
    if (folder_.isEmpty()) {
        // Where a browser puts what it fetched, which is where a package usually is.
        const QString downloads =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        folder_ = QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
    }
    const QStringList paths = FileChooser(window_, folder_);
    if (paths.isEmpty())
        return;
    folder_ = QFileInfo(paths.first()).absolutePath();
    load_(paths);
}

QStringList FirmwareFileOpener::DroppedFiles(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}

void FirmwareFileOpener::OfferMenu(const QPoint& globalPos) {
    QMenu menu(window_);
    menu.addAction(open_);
    menu.exec(globalPos);
}

bool FirmwareFileOpener::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::DragEnter) {
        // Anything may be dropped: what is not firmware is refused with a beep on the drop.
        auto* enter = static_cast<QDragEnterEvent*>(event);
        if (enter->mimeData()->hasUrls() || enter->mimeData()->hasText())
            enter->acceptProposedAction();
        return true;
    }
    if (watched == window_ && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = DroppedFiles(drop->mimeData());
        drop->acceptProposedAction();
        RunGuarded([&] {
            if (!FirmwareFileLoader::IsFirmwareSelection(paths))
                beep_();
            else
                load_(paths);
        });
        return true;
    }
    // A button that is off swallows its right clicks, so the group takes them here, for the
    // group itself and for everything in it.
    if (event->type() == QEvent::ContextMenu && watched->isWidgetType() &&
        (watched == group_ || group_->isAncestorOf(static_cast<QWidget*>(watched)))) {
        const QPoint at = static_cast<QContextMenuEvent*>(event)->globalPos();
        RunGuarded([&] { OfferMenu(at); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}
