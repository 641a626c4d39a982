#include "ShownWindow.h"

#include <QAccessible>
#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

// The window as a screen reader sees it, through the interfaces Qt hands to the platform's
// accessibility bridge.
namespace {
class WindowAccess : public ShownWindow {
protected:
    QAccessibleInterface* Access(const char* name) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(Find(name));
        EXPECT_NE(iface, nullptr) << name;
        return iface;
    }
    // Every interface below the window, as a reader walks the tree.
    void Walk(QAccessibleInterface* iface, const std::function<void(QAccessibleInterface*)>& f) {
        f(iface);
        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface* child = iface->child(i);
            EXPECT_NE(child, nullptr) << i;
            if (child)
                Walk(child, f);
        }
    }
};
} // namespace

TEST_F(WindowAccess, ControlsAndPicturesHaveRolesNamesAndDescriptions) {
    struct Expected {
        const char* control;
        QAccessible::Role role;
        const char* name;
        bool described;
    } expected[] = {
        {"imgSymbol", QAccessible::Graphic, "Quillmoor symbol", false},
        {"Memo1", QAccessible::EditableText, "Introduction", false},
        {"lstMonitor", QAccessible::EditableText, "Monitor", true},
        {"prgUpload", QAccessible::ProgressBar, "Image progress", true},
        {"imgDev", QAccessible::Graphic, "Quillmoor device", true},
        {"btnWebFirmware", QAccessible::ButtonMenu, "Download web update", true},
        {"btnOS", QAccessible::Button, "Update Quillmoor", true},
        {"btnClose", QAccessible::Button, "Close", true},
    };
    for (const auto& e : expected) {
        QAccessibleInterface* iface = Access(e.control);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), e.role) << e.control;
        EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), e.name) << e.control;
        EXPECT_EQ(iface->text(QAccessible::Description).isEmpty(), !e.described) << e.control;
    }
    EXPECT_TRUE(Access("Memo1")->state().readOnly);
}

TEST_F(WindowAccess, ThePortSelectorIsLabelledByItsCaption) {
    auto* label = static_cast<QLabel*>(Find("lblPort"));
    EXPECT_EQ(label->buddy(), Find("ComComboBox"));
    QAccessibleInterface* selector = Access("ComComboBox");
    EXPECT_EQ(selector->role(), QAccessible::ComboBox);
    // On Linux the bridge names a selector by its choice and reads the label beside it.
    EXPECT_FALSE(selector->text(QAccessible::Name).isEmpty());
    EXPECT_FALSE(selector->text(QAccessible::Description).isEmpty());
    QStringList labels;
    for (const auto& [iface, relation] : selector->relations(QAccessible::Label))
        labels << iface->text(QAccessible::Name);
    EXPECT_EQ(labels.join('|').toStdString(), "COMPort");
}

TEST_F(WindowAccess, EveryControlAReaderCanReachIsNamedAndHiddenOnesAreLeftOut) {
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->role(), QAccessible::Window);
    EXPECT_EQ(root->text(QAccessible::Name).toStdString(), "QLM Firmware Updater");

    QList<QObject*> seen;
    Walk(root, [&](QAccessibleInterface* iface) {
        seen << iface->object();
        // The tree holds together: each child's parent finds it where it was found.
        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface* child = iface->child(i);
            EXPECT_EQ(iface->indexOfChild(child), i) << qPrintable(iface->text(QAccessible::Name));
            EXPECT_EQ(child->parent(), iface) << qPrintable(child->text(QAccessible::Name));
        }
        auto* widget = qobject_cast<QWidget*>(iface->object());
        const bool reachable = widget && widget->focusPolicy() != Qt::NoFocus;
        const bool shown = !iface->state().invisible;
        if ((reachable || iface->role() == QAccessible::Graphic) && shown) {
            EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty())
                << qPrintable(iface->object()->objectName());
        }
    });
    EXPECT_TRUE(seen.contains(Find("btnOS")));
    EXPECT_FALSE(seen.contains(Find("btnExt")));
}

TEST_F(WindowAccess, TheProgressBarCarriesThePercentageAndTheBlock) {
    QAccessibleInterface* bar = Access("prgUpload");
    struct Step {
        std::function<void()> action;
        const char* description;
    } steps[] = {
        {[] {}, "Total progress 0 %, Block: 0"},
        {[&] { window->SetProgressText("8 %"); }, "Total progress 8 %, Block: 0"},
        {[&] { window->SetBlockText("Block: 97"); }, "Total progress 8 %, Block: 97"},
        {[&] { window->SetProgressText("100 %"); }, "Total progress 100 %, Block: 97"},
        {[&] { window->LeaveBusyState(); }, "Total progress 0 %, Block: 97"},
    };
    for (const Step& step : steps) {
        step.action();
        EXPECT_EQ(bar->text(QAccessible::Description).toStdString(), step.description);
    }
}
