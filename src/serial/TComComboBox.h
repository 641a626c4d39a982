#pragma once

#include "serial/TComPort.h"

#include <QComboBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

// What a selector lists. Only ports are listed; the other kinds give an empty list.
enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The selector's choice: the kind it lists, an optional port to copy a choice into, and the
// value the user chose last.
class TComSelect {
public:
    TComProperty Kind = cpNone;
    QPointer<TCustomComPort> ComPort;
    bool AutoApply = false;
    QString Port; // the port name the user chose last

    // The items for the kind, in list order.
    QStringList Items() const;

    // Where port names come from: EnumComPorts unless replaced (tests give fixed lists).
    using PortSource = std::function<void(QStringList& ports)>;
    static void SetPortSource(PortSource source);
    // Notes the user's pick; with AutoApply it goes to the attached port (which may reopen).
    void Choose(const QString& text);
};

// A drop-down list of serial ports. Assigning ComProperty rebuilds the list and selects the
// first item (or the attached port's), Text reads the selection and assigning it selects the
// first item equal without regard to case. OnChange is called only when the user picks an
// item (mouse, keyboard or wheel), never when code changes the selection.
class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComComboBox(QWidget* parent = nullptr);

    TComProperty ComProperty() const { return select_.Kind; }
    // Always rebuilds, also for the same kind.
    void SetComProperty(TComProperty kind);
    TCustomComPort* ComPort() const { return select_.ComPort; }
    void SetComPort(TCustomComPort* port) { select_.ComPort = port; }
    bool AutoApply() const { return select_.AutoApply; }
    void SetAutoApply(bool apply) { select_.AutoApply = apply; }
    const TComSelect& ComSelect() const { return select_; }

    // The selected item's text, empty when nothing is selected.
    QString Text() const;
    // Selects the first item equal to text without regard to case; no match changes nothing.
    void SetText(const QString& text);
    int ItemIndex() const { return currentIndex(); }
    void SetItemIndex(int index) { setCurrentIndex(index); }

    std::function<void(TComComboBox* sender)> OnChange;

private:
    void UserPicked(int index);

    TComSelect select_;
};
