#pragma once

#include <QByteArray>
#include <QObject>
#include <optional>

class QSocketNotifier;

// Device-change notices for serial ports: the kernel's uevents of the tty subsystem,
// turned into the two codes the window acts on. Without the socket the program simply
// runs without notices.
class DeviceNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr int DeviceArrival = 0x8000;
    static constexpr int DeviceRemoveComplete = 0x8004;

    explicit DeviceNotifier(QObject* parent = nullptr);
    ~DeviceNotifier() override;

    bool Listening() const { return fd_ >= 0; }

    // The notice code of one uevent message, or none when it is not a tty add or remove.
    static std::optional<int> ParseUevent(const QByteArray& message);

signals:
    void Notice(int code);

private:
    void ReadMessages();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
