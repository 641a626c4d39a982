#pragma once

#include <QByteArray>
#include <QObject>
#include <memory>
#include <optional>

class QWidget;

// Device-change notices for serial ports, turned into the two codes the window acts on.
// Without a source the program simply runs without notices.
//
// Unix: the kernel's uevents of the tty subsystem. Windows: WM_DEVICECHANGE with
// DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE for a port, as sent to the window, or for a
// device with the serial-port interface, as registered for; one notice per change.
class DeviceNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr int DeviceArrival = 0x8000;
    static constexpr int DeviceRemoveComplete = 0x8004;

    // window: the top-level window the notices are meant for; it owns the notifier.
    explicit DeviceNotifier(QWidget* window);
    ~DeviceNotifier() override;

    bool Listening() const;

    // The notice code of one uevent message, or none when it is not a tty add or remove.
    static std::optional<int> ParseUevent(const QByteArray& message);

signals:
    void Notice(int code);

private:
    class Source; // the platform's
    std::unique_ptr<Source> source_;
};
