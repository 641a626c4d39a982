#include "updater/WindowAccessibility.h"

#include "updater/TFQLXUpdate.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QLabel>
#include <QWidget>

namespace {
template <typename T = QWidget> T* Named(QWidget* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name));
}

struct Description {
    const char* control;
    const char* name;        // empty: the control's own text or label names it
    const char* description; // empty: none
};

const Description Descriptions[] = {
    {"imgSymbol", "Quillmoor symbol", ""},
    {"Memo1", "Introduction", ""},
    {"ComComboBox", "",
     "The serial port of the Quillmoor device; the device search selects it by itself."},
    {"lstMonitor", "Monitor", "What the updater does, step by step, and how each step ended."},
    {"prgUpload", "Image progress", ""},
    {"imgDev", "Quillmoor device", "A right click locks the port choice, another unlocks it."},
    {"btnOS", "", "Writes the loaded firmware into the Quillmoor device."},
    {"btnClose", "", "Closes the updater; not while an update runs."},
};

// The window as assistive technology sees it: a window whose controls that it keeps hidden
// (the extended-image button) are left out, so a screen reader never offers them.
class WindowInterface : public QAccessibleWidget {
public:
    explicit WindowInterface(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    int childCount() const override { return static_cast<int>(Shown().size()); }

    QAccessibleInterface* child(int index) const override {
        const QList<QAccessibleInterface*> shown = Shown();
        return index >= 0 && index < shown.size() ? shown[index] : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        return static_cast<int>(Shown().indexOf(const_cast<QAccessibleInterface*>(child)));
    }

private:
    QList<QAccessibleInterface*> Shown() const {
        QList<QAccessibleInterface*> shown;
        for (int i = 0; i < QAccessibleWidget::childCount(); ++i) {
            QAccessibleInterface* child = QAccessibleWidget::child(i);
            auto* widget = child ? qobject_cast<QWidget*>(child->object()) : nullptr;
            if (child && !(widget && widget->isHidden()))
                shown << child;
        }
        return shown;
    }
};

QAccessibleInterface* WindowFactory(const QString& key, QObject* object) {
    if (object && object->isWidgetType() &&
        key == QLatin1String(TFQLXUpdate::staticMetaObject.className()))
        return new WindowInterface(static_cast<QWidget*>(object));
    return nullptr;
}

// Before any window exists: the interface made for the window first is kept for its life,
// and accessibility events sent while it is built already make one.
void InstallWindowFactory() {
    QAccessible::installFactory(WindowFactory);
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWindowFactory)

void WindowAccessibility::Describe(QWidget* window) {
    for (const Description& d : Descriptions) {
        QWidget* control = Named(window, d.control);
        if (!control)
            continue;
        if (*d.name)
            control->setAccessibleName(QString::fromUtf8(d.name));
        if (*d.description)
            control->setAccessibleDescription(QString::fromUtf8(d.description));
    }
    if (auto* portLabel = Named<QLabel>(window, "lblPort"))
        portLabel->setBuddy(Named(window, "ComComboBox"));
    ProgressChanged(window);
}

void WindowAccessibility::ProgressChanged(QWidget* window) {
    auto* bar = Named(window, "prgUpload");
    auto* total = Named<QLabel>(window, "lblTotalDev");
    auto* percent = Named<QLabel>(window, "lblProg");
    auto* block = Named<QLabel>(window, "lblBlock");
    if (!bar || !total || !percent || !block)
        return;
    bar->setAccessibleDescription(
        QStringLiteral("%1 %2, %3").arg(total->text(), percent->text(), block->text()));
}
