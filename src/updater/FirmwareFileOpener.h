#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QAction;
class QMimeData;
class QWidget;

// How the user hands the window firmware files: the "Open firmware file…" action (a menu
// entry, Ctrl+O, a right click on the firmware group, also on its buttons while they are
// off), the file dialog it opens, and files dropped on the window. What is picked goes to
// the load function; a drop of anything else gets the beep.
class FirmwareFileOpener : public QObject {
    Q_OBJECT
public:
    using LoadFunction = std::function<void(const QStringList& paths)>;

    // Works on window; the group's right click offers the action. load is not called while
    // refused() is true: the beep is the answer then.
    FirmwareFileOpener(QWidget* window, QWidget* fileGroup, LoadFunction load,
                       std::function<bool()> refused, std::function<void()> beep);

    QAction* OpenAction() const { return open_; }
    // How the user is asked for files, starting in folder; a file dialog unless replaced.
    std::function<QStringList(QWidget* parent, const QString& folder)> FileChooser;

    // The action: asks for the files, then loads them.
    void Open();
    // The local files of a drop; empty when anything else is in it.
    static QStringList DroppedFiles(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OfferMenu(const QPoint& globalPos);

    QWidget* window_;
    QWidget* group_;
    QAction* open_;
    LoadFunction load_;
    std::function<bool()> refused_;
    std::function<void()> beep_;
    QString folder_; // where the file dialog opens
};
