#pragma once

#include "FakeView.h"
#include "flashing/DeviceFlasher.h"
#include "serial/TComPort.h"
#include "support/RecordingPresenter.h"
#include "support/SimDevice.h"
#include "support/ZipFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

// A flasher on a headless view, with both firmware files in its work directory and the
// simulated device on a pseudo-terminal.
class FlashFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work.isValid() && simOut.isValid() && links.isValid());
        osFile = RandomBytes(491516, 11);
        extFile = RandomBytes(98304, 12);
        WriteFile("QLM_OS.bin", osFile);
        WriteFile("QLM_EXT.bin", extFile);
        ASSERT_TRUE(flasher.ClassifyImages(work.path()));
        flasher.SetWorkDirectory(work.path());
        port.SetEvents(evRxChar);
        port.OnRxChar = [this](TCustomComPort* sender, int count) {
            flasher.ComPort1RxChar(sender, count);
        };
        TestPresenter().boxes.clear();
    }

    static QByteArray RandomBytes(int size, quint32 seed) {
        QByteArray bytes = TestBytes(size, int(seed));
        // No padding byte at the end, so the padding is told apart from the content.
        bytes[size - 1] = '\x55';
        return bytes;
    }

    void WriteFile(const QString& name, const QByteArray& bytes) {
        QFile file(work.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray Received(const QString& name) const {
        QFile file(simOut.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray PaddedOS() const { return osFile + QByteArray(4, '\x1A'); }

    // Starts the device, fast unless args say otherwise, and selects its port.
    void StartSim(const QStringList& args = {}) {
        sim = std::make_unique<SimDevice>(TestPortName(links, "dev"),
                                          QStringList{"--no-pace", "--out", simOut.path(),
                                                      "--restart-delay", "100", "--nak-interval",
                                                      "100"} +
                                              args);
        ASSERT_TRUE(sim->Started()) << sim->ErrorOutput().toStdString();
        view.ports = QStringList{sim->Path()};
        view.portText = sim->Path();
    }

    int CountLines(const QString& line) const { return static_cast<int>(view.lines.count(line)); }

    // A run that would otherwise never end is ended by the emergency key after ms; the test
    // then fails on watchdogFired.
    void ArmWatchdog(int ms) {
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            watchdogFired = true;
            view.abort = true;
        });
        watchdog.start(ms);
    }

    void LimitSilence(int answerMs, int handshakeMs) {
        TFlashTransfer::SilenceLimits limits;
        limits.answerMs = answerMs;
        limits.handshakeMs = handshakeMs;
        flasher.Transfer().SetSilenceLimits(limits);
    }

    QTemporaryDir work;
    QTemporaryDir simOut;
    QTemporaryDir links;
    QByteArray osFile;
    QByteArray extFile;
    std::unique_ptr<SimDevice> sim;
    TComPort port;
    FakeView view;
    DeviceFlasher flasher{port, view};
    QTimer watchdog;
    bool watchdogFired = false;
};
