#include "ShownWindow.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>

// Every text of the window measured on its rendered pixels, under a light and a dark
// application palette: the window keeps light backgrounds of its own, so the texts on them
// must not take their colours from a dark palette.
namespace {
double Channel(int value) {
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(QRgb c) {
    return 0.2126 * Channel(qRed(c)) + 0.7152 * Channel(qGreen(c)) + 0.0722 * Channel(qBlue(c));
}

double Contrast(QRgb a, QRgb b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The background is the commonest colour of the area, the text the pixel that stands out
// most from it.
struct Measure {
    QRgb background = 0;
    QRgb text = 0;
    double ratio = 1.0;
};

Measure MeasureText(const QImage& shot, const QRect& area) {
    QHash<QRgb, int> counts;
    const QRect inside = area & shot.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[shot.pixel(x, y) | 0xff000000u];
    Measure m;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            m.background = it.key();
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double ratio = Contrast(it.key(), m.background);
        if (ratio > m.ratio) {
            m.ratio = ratio;
            m.text = it.key();
        }
    }
    return m;
}

// As a dark desktop theme hands it to the program (GNOME's dark Adwaita).
QPalette DarkPalette() {
    QPalette p;
    const QColor window(0x35, 0x35, 0x35), base(0x2d, 0x2d, 0x2d), text(0xee, 0xee, 0xec);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool off = group == QPalette::Disabled;
        const QColor ink = off ? QColor(0x91, 0x91, 0x90) : text;
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, ink);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window);
        p.setColor(group, QPalette::Text, off ? ink : Qt::white);
        p.setColor(group, QPalette::Button, window);
        p.setColor(group, QPalette::ButtonText, ink);
        p.setColor(group, QPalette::BrightText, Qt::white);
        p.setColor(group, QPalette::Light, QColor(0x50, 0x50, 0x50));
        p.setColor(group, QPalette::Midlight, QColor(0x45, 0x45, 0x45));
        p.setColor(group, QPalette::Mid, QColor(0x28, 0x28, 0x28));
        p.setColor(group, QPalette::Dark, QColor(0x1b, 0x1b, 0x1b));
        p.setColor(group, QPalette::Shadow, Qt::black);
        p.setColor(group, QPalette::Highlight, QColor(0x15, 0x53, 0x9e));
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::ToolTipBase, QColor(0x1b, 0x1b, 0x1b));
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::PlaceholderText, QColor(0x91, 0x91, 0x90));
    }
    return p;
}

struct Theme {
    const char* name;
    QPalette (*palette)();
};

void PrintTo(const Theme& theme, std::ostream* out) {
    *out << theme.name;
}

const Theme Themes[] = {
    {"light", [] { return QApplication::style()->standardPalette(); }},
    {"dark", DarkPalette},
};

class WindowLook : public ShownWindow, public ::testing::WithParamInterface<Theme> {
protected:
    void SetUp() override {
        saved_ = QApplication::palette();
        QApplication::setPalette(GetParam().palette());
        ShownWindow::SetUp();
    }
    void TearDown() override {
        ShownWindow::TearDown();
        QApplication::setPalette(saved_);
    }
    QRect Area(const QWidget* widget) {
        return QRect(widget->mapTo(window.get(), QPoint(0, 0)), widget->size());
    }
    // The strip of a group box's border its title is drawn in.
    QRect TitleArea(const char* name) {
        auto* group = static_cast<QGroupBox*>(Find(name));
        const QFontMetrics metrics(group->font());
        return QRect(group->mapTo(window.get(), QPoint(10, 0)),
                     QSize(metrics.horizontalAdvance(group->title()) + 8, metrics.height()));
    }
    QImage Shot(const char* state) {
        QApplication::processEvents();
        QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        // Set to a folder to look at what was measured.
        const QString folder = qEnvironmentVariable("QLM_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            shot.save(QDir(folder).filePath(
                QStringLiteral("window-%1-%2.png").arg(GetParam().name, state)));
        return shot;
    }

private:
    QPalette saved_;
};

constexpr double MinimumContrast = 4.5;
} // namespace

TEST_P(WindowLook, EveryTextReadsAtLeastFourAndAHalfToOneOnItsBackground) {
    // A window in the middle of an update: the log, the figures and the warning all shown.
    window->AppendLine("-> AUTOSEARCH FOR QUILLMOOR DEVICE  [OK]");
    window->AppendLine("- FLASHING OS FLASH -");
    window->SetProgressText("8 %");
    window->SetBlockText("Block: 97");
    window->SetStatusText(0, "ACK");
    window->SetStatusText(1, "Received ACK");
    Find("lblAbort")->show();
    const QImage shot = Shot("busy");

    struct Text {
        const char* what;
        QRect area;
    };
    const auto* intro = static_cast<QPlainTextEdit*>(Find("Memo1"));
    const auto* log = static_cast<QPlainTextEdit*>(Find("lstMonitor"));
    const Text texts[] = {
        {"lblPort", Area(Find("lblPort"))},
        {"lblCaption", Area(Find("lblCaption"))},
        {"lblAbort", Area(Find("lblAbort"))},
        {"lblBlock", Area(Find("lblBlock"))},
        {"lblTotalDev", Area(Find("lblTotalDev"))},
        {"lblProg", Area(Find("lblProg"))},
        {"Label1", Area(Find("Label1"))},
        {"StatusPanel0", Area(Find("StatusPanel0"))},
        {"StatusPanel1", Area(Find("StatusPanel1"))},
        {"StatusPanel2", Area(Find("StatusPanel2"))},
        {"grpWeb title", TitleArea("grpWeb")},
        {"grpMonitor title", TitleArea("grpMonitor")},
        {"Memo1", Area(intro->viewport())},
        {"lstMonitor", Area(log->viewport())},
    };
    for (const Text& t : texts) {
        const Measure m = MeasureText(shot, t.area);
        EXPECT_GE(m.ratio, MinimumContrast)
            << t.what << " under the " << GetParam().name << " palette: text #" << std::hex
            << (m.text & 0xffffff) << " on #" << (m.background & 0xffffff);
    }

    // The introduction stays part of the white panel; the log is the palette's own text box.
    EXPECT_EQ(MeasureText(shot, Area(intro->viewport())).background, qRgb(255, 255, 255));
    EXPECT_EQ(MeasureText(shot, Area(log->viewport())).background,
              QApplication::palette().color(QPalette::Base).rgb());
}

TEST_P(WindowLook, TheLockedPortsLabelStaysReadable) {
    window->imgDevMouseDown(Qt::RightButton);
    ASSERT_FALSE(Find("lblPort")->isEnabled());
    const Measure m = MeasureText(Shot("locked"), Area(Find("lblPort")));
    EXPECT_GE(m.ratio, MinimumContrast) << std::hex << (m.text & 0xffffff);
}

INSTANTIATE_TEST_SUITE_P(Palettes, WindowLook, ::testing::ValuesIn(Themes),
                         [](const auto& info) { return std::string(info.param.name); });
