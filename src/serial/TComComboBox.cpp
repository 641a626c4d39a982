#include "serial/TComComboBox.h"

#include "app/ErrorReport.h"
#include "serial/EnumComPorts.h"
#include "serial/TComPort.h"

namespace {
TComSelect::PortSource& CurrentPortSource() {
    static TComSelect::PortSource source;
    return source;
}
} // namespace

void TComSelect::SetPortSource(PortSource source) {
    CurrentPortSource() = std::move(source);
}

QStringList TComSelect::Items() const {
    QStringList items;
    if (Kind != cpPort)
        return items;
    if (CurrentPortSource())
        CurrentPortSource()(items);
    else
        EnumComPorts(items);
    return items;
}

void TComSelect::Choose(const QString& text) {
    if (Kind != cpPort)
        return;
    Port = text;
    if (AutoApply && ComPort)
        ComPort->SetPort(text);
}

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::activated, this, &TComComboBox::UserPicked);
}

void TComComboBox::SetComProperty(TComProperty kind) {
    select_.Kind = kind;
    clear();
    const QStringList items = select_.Items();
    addItems(items);
    int index = items.isEmpty() ? -1 : 0;
    if (kind == cpPort && select_.ComPort) {
        const int attached = findText(select_.ComPort->Port(), Qt::MatchExactly);
        if (attached >= 0)
            index = attached;
    }
    setCurrentIndex(index);
}

QString TComComboBox::Text() const {
    return currentIndex() < 0 ? QString() : itemText(currentIndex());
}

void TComComboBox::SetText(const QString& text) {
    if (text.isEmpty())
        return;
    // MatchFixedString compares whole texts without regard to case.
    const int index = findText(text, Qt::MatchFixedString);
    if (index >= 0)
        setCurrentIndex(index);
}

void TComComboBox::UserPicked(int index) {
    RunGuarded([&] {
        select_.Choose(itemText(index));
        if (OnChange)
            OnChange(this);
    });
}
