#include "serial/TComComboBox.h"

#include "serial/EnumComPorts.h"

#include "serial/TComPort.h"

#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ComComboBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        Present({"COM3", "COM10", "COM2"});
        box.OnChange = [this](TComComboBox* sender) {
            EXPECT_EQ(sender, &box);
            ++changes;
        };
    }
    void TearDown() override { TComSelect::SetPortSource(nullptr); }

    void Present(const QStringList& names) {
        TComSelect::SetPortSource([names](QStringList& ports) {
            ports = names;
            SortComPorts(ports);
        });
    }

    QStringList Items() const {
        QStringList items;
        for (int i = 0; i < box.count(); ++i)
            items << box.itemText(i);
        return items;
    }

    TComComboBox box;
    int changes = 0;
};

TEST_F(ComComboBoxTest, RebuildListsSortedPortsAndSelectsTheFirst) {
    EXPECT_EQ(box.ComProperty(), cpNone);
    EXPECT_EQ(box.ItemIndex(), -1);
    box.SetComProperty(cpPort);
    EXPECT_EQ(Items(), (QStringList{"COM10", "COM2", "COM3"}));
    EXPECT_EQ(box.ItemIndex(), 0);
    EXPECT_EQ(box.Text(), "COM10");
    EXPECT_EQ(changes, 0);
}

TEST_F(ComComboBoxTest, NoPortsGiveAnEmptySelection) {
    Present({});
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.ItemIndex(), -1);
    EXPECT_EQ(box.Text(), QString());
}

TEST_F(ComComboBoxTest, DuplicateNamesAreListedTwice) {
    Present({"COM4", "COM4"});
    box.SetComProperty(cpPort);
    EXPECT_EQ(Items(), (QStringList{"COM4", "COM4"}));
}

TEST_F(ComComboBoxTest, TextSelectsTheFirstEqualItemIgnoringCase) {
    box.SetComProperty(cpPort);
    const struct {
        const char* assign;
        int expected;
    } rows[] = {
        {"com3", 2}, {"", 2}, {"COM4", 2}, {"COM", 2}, {"COM30", 2}, {"Com2", 1},
    };
    for (const auto& row : rows) {
        box.SetText(QString::fromLatin1(row.assign));
        EXPECT_EQ(box.ItemIndex(), row.expected) << row.assign;
    }
    EXPECT_EQ(box.Text(), "COM2");
    EXPECT_EQ(changes, 0);
}

TEST_F(ComComboBoxTest, RebuildSelectsItemZeroAgainWithoutOnChange) {
    Present({"COM4", "COM5"});
    box.SetComProperty(cpPort);
    box.SetText("COM5");
    ASSERT_EQ(box.ItemIndex(), 1);
    Present({"COM4", "COM5", "COM6"});
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.ItemIndex(), 0);
    EXPECT_EQ(box.count(), 3);
    EXPECT_EQ(changes, 0);
}

TEST_F(ComComboBoxTest, StartUpLayoutShowsTheFirstPortInSortOrder) {
    Present({"COM4", "COM1", "COM3"});
    box.SetComProperty(cpPort);
    box.SetText("COM1");
    box.SetItemIndex(0);
    EXPECT_EQ(box.Text(), "COM1");
    Present({"COM4", "COM3"});
    box.SetComProperty(cpPort);
    box.SetText("COM1");
    box.SetItemIndex(0);
    EXPECT_EQ(box.Text(), "COM3");
}

TEST_F(ComComboBoxTest, UserPickRaisesOnChangeAndNotesThePort) {
    box.SetComProperty(cpPort);
    box.show();
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.Text(), "COM2");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(box.ComSelect().Port, "COM2");
    box.SetItemIndex(2); // code: no event
    EXPECT_EQ(changes, 1);
}

TEST_F(ComComboBoxTest, AttachedPortIsSelectedAndTakesTheUsersPick) {
    TComPort port;
    port.SetPort("COM2");
    box.SetComPort(&port);
    box.SetAutoApply(true);
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.Text(), "COM2");
    box.show();
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(port.Port(), "COM3");
    EXPECT_EQ(changes, 1);
}

} // namespace
