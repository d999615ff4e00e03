#include "ui/PanelPlacement.h"
#include "ui/PanelTheme.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsView.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

// The panel as a person sees it: demo data and a crafted live state that fills every card, in a light and a
// dark palette. Every shown label must have the room its text needs. `make screenshots` keeps the pictures,
// at scale 1 and 2.

namespace {

using UiTest::darkPalette;

// Keeps a picture of what a case checked when TALLYVANE_SCREENSHOTS names a folder (make screenshots).
void keep(const QImage& image, const QString& name)
{
    const QString folder = qEnvironmentVariable("TALLYVANE_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/%1@%2x.png").arg(name).arg(qApp->devicePixelRatio());
    EXPECT_TRUE(image.save(path)) << path.toStdString();
}

QDateTime inHours(double hours)
{
    return UiTest::kNow.addSecs(static_cast<qint64>(hours * 3600));
}

// Codex on track, Claude's 5-hour window running out before its reset, with its model and a Sonnet limit.
QList<UsageSnapshot> liveSnapshots()
{
    using UiTest::ago;
    using UiTest::reading;
    QList<UsageSnapshot> list;
    for (int i = 0; i <= 24; ++i) {
        const double minutesAgo = 120 - i * 5;
        list << reading(Provider::codex, WindowKind::fiveHour, ago(minutesAgo), 20 + i * 0.9, inHours(2));
        list << reading(Provider::claude, WindowKind::fiveHour, ago(minutesAgo), 30 + i * 2.0, inHours(2.5));
    }
    for (int day = 0; day <= 12; ++day) {
        const double minutesAgo = (72 - day * 6) * 60.0;
        list << reading(Provider::codex, WindowKind::weekly, ago(minutesAgo), 30 + day * 0.9, inHours(96));
        list << reading(Provider::claude, WindowKind::sevenDay, ago(minutesAgo), 40 + day * 1.7, inHours(60));
        list << reading(Provider::claude, WindowKind::weekly, ago(minutesAgo), 8 + day * 0.4, inHours(60));
    }
    UsageSnapshot meta =
        UiTest::reading(Provider::claude, WindowKind::fiveHour, UiTest::ago(0), 78, inHours(2.5));
    meta.modelDisplayName = QStringLiteral("Opus 4.1");
    meta.effortLevel = QStringLiteral("high");
    meta.thinkingEnabled = true;
    list << meta;
    return list;
}

// The cards a live panel fills from the transcripts and the account, as one crafted published value.
void craftSecondary(PublishedState& state)
{
    AppSettings budget;
    budget.extraUsageBudgetGBP = 50;
    state.overage = StateReports::overage(ClaudeExtraUsage{true, 12.4, 100.0, QStringLiteral("GBP")}, budget);
    state.usage =
        QList<ProviderUsage>{{Provider::codex,
                              {1'200'000, 900'000, 2'400'000, 1'800'000, 0, 3'100'000, 2'200'000},
                              11'600'000,
                              25.0,
                              1'657'142,
                              QStringLiteral("£9.80")},
                             {Provider::claude,
                              {4'100'000, 5'600'000, 3'900'000, 6'200'000, 2'000'000, 7'400'000, 5'100'000},
                              34'300'000,
                              -12.0,
                              4'900'000,
                              QStringLiteral("£31.20")}};
    state.spendThisWeekTotal = QStringLiteral("£41.00");
    state.peakWindow = QStringLiteral("22:00–02:00");
    for (CardRow& row : state.cards[Provider::claude].rows) {
        if (row.name == QLatin1String("long"))
            row.text.trailing = QStringLiteral("~2.2 days of your usual usage left");
    }
}

// Labels that are shown but narrower or lower than their text needs.
QStringList clippedLabels(const QWidget& root)
{
    QStringList clipped;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&root) || label->text().isEmpty() || !label->pixmap().isNull())
            continue;
        const QSize need = label->sizeHint();
        const bool tooLow = label->wordWrap() ? label->height() < label->heightForWidth(label->width())
                                              : label->height() < label->fontMetrics().height();
        if ((!label->wordWrap() && label->width() < need.width()) || tooLow)
            clipped << label->text() + QStringLiteral(" (") + QString::number(label->width()) +
                           QLatin1Char('<') + QString::number(need.width()) + QLatin1Char(')');
    }
    return clipped;
}

QImage render(AppState& state, bool crafted, int height)
{
    auto* view = new PanelView(state, {true, false});
    PanelWindow panel(view, view->dragHandle());
    panel.resize(460, height);
    panel.show();
    QCoreApplication::processEvents();
    view->redraw();
    if (crafted) {
        PublishedState published = state.publishedState();
        craftSecondary(published);
        view->render(published);
    }
    QCoreApplication::processEvents();
    if (height == 0) {
        // As tall as the whole column, so that one picture shows every card.
        auto* scroll = view->findChild<QScrollArea*>(QStringLiteral("cardColumn"));
        const int extra = scroll->widget()->sizeHint().height() - scroll->viewport()->height();
        panel.resize(460, panel.height() + std::max(0, extra));
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(clippedLabels(panel), QStringList());
    // Nothing cut off at the right: the column fits its viewport.
    auto* scroll = view->findChild<QScrollArea*>(QStringLiteral("cardColumn"));
    EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width());
    return panel.grab().toImage();
}

struct Shot
{
    QString name;
    bool demo;
    int height; // 0: the whole column
};

TEST(PanelScreenshot, DemoAndLiveInLightAndDark)
{
    const QPalette light = QApplication::style()->standardPalette();
    const Shot shots[] = {{"demo", true, 720}, {"live", false, 0}};
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : light);
        for (const Shot& shot : shots) {
            AppSettings settings = UiTest::onboarded();
            settings.demoMode = shot.demo;
            settings.extraUsageBudgetGBP = 50;
            auto state = UiTest::makeState(settings, shot.demo ? QList<UsageSnapshot>() : liveSnapshots());
            keep(render(*state, !shot.demo, shot.height),
                 QStringLiteral("panel-%1-%2").arg(shot.name, QLatin1StringView(dark ? "dark" : "light")));
        }
        // The settings screen, its whole column at once.
        AppSettings settings = UiTest::onboarded();
        settings.sleep.enabled = true;
        auto state = UiTest::makeState(settings, liveSnapshots());
        PanelView view(*state, {false, true}, PanelFeeds::fromState(*state));
        view.resize(460, 720);
        view.show();
        QCoreApplication::processEvents();
        QWidget* column = view.settingsView()->findChild<QScrollArea*>()->widget();
        column->resize(460, column->sizeHint().height());
        QCoreApplication::processEvents();
        EXPECT_EQ(clippedLabels(*column), QStringList());
        keep(column->grab().toImage(),
             QStringLiteral("settings-%1").arg(QLatin1StringView(dark ? "dark" : "light")));
    }
    QApplication::setPalette(light);
}

TEST(PanelScreenshot, EmptyCardAndResetConfirmation)
{
    // Codex reads, Claude has nothing yet: its card says so rather than standing empty.
    QList<UsageSnapshot> codexOnly;
    for (const UsageSnapshot& s : liveSnapshots())
        if (s.provider == Provider::codex)
            codexOnly << s;
    AppSettings settings = UiTest::onboarded();
    auto state = UiTest::makeState(settings, codexOnly);
    keep(render(*state, false, 0), QStringLiteral("panel-empty-card"));

    PanelView view(*state, {false, true}, PanelFeeds::fromState(*state));
    view.resize(460, 720);
    view.show();
    view.findChild<QPushButton*>(QStringLiteral("resetHistory"))->click();
    auto* box = view.findChild<QMessageBox*>(QStringLiteral("resetConfirmation"));
    ASSERT_NE(box, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(clippedLabels(*box), QStringList());
    keep(box->grab().toImage(), QStringLiteral("reset-confirmation"));
    box->reject();
}

// The best contrast a pixel inside `area` reaches against the area's most common colour (its background).
double textContrast(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[image.pixel(x, y)];
    }
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > counts.value(background))
            background = it.key();
    }
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, PanelTheme::contrast(QColor(it.key()), QColor(background)));
    return best;
}

TEST(PanelScreenshot, SecondaryTextReadsUnderADarkSchemeOfMainColoursOnly)
{
    // What a KDE colour scheme with window, view and button colours only leaves: the rest stays light.
    const QPalette light = QApplication::style()->standardPalette();
    QPalette partial = light;
    for (const auto& [role, rgb] : {std::pair{QPalette::Window, 0x31363b},
                                    {QPalette::WindowText, 0xeff0f1},
                                    {QPalette::Base, 0x232629},
                                    {QPalette::Text, 0xeff0f1},
                                    {QPalette::Button, 0x31363b},
                                    {QPalette::ButtonText, 0xeff0f1}})
        partial.setColor(role, QColor::fromRgb(rgb));
    QApplication::setPalette(partial);
    AppSettings settings = UiTest::onboarded();
    settings.demoMode = true;
    auto state = UiTest::makeState(settings, liveSnapshots());
    auto* view = new PanelView(*state, {}, PanelFeeds::fromState(*state));
    PanelWindow panel(view, view->dragHandle());
    panel.resize(460, 720);
    panel.show();
    QCoreApplication::processEvents();
    view->redraw();
    QCoreApplication::processEvents();
    const QImage image = panel.grab().toImage();
    keep(image, QStringLiteral("panel-partial-dark"));
    const qreal scale = image.devicePixelRatio();
    QStringList checked;
    for (const QLabel* label : panel.findChildren<QLabel*>()) {
        if (label->foregroundRole() != QPalette::PlaceholderText || !label->isVisibleTo(&panel) ||
            label->text().isEmpty() || label->visibleRegion().isEmpty())
            continue;
        const QRect area(label->mapTo(&panel, QPoint(0, 0)) * scale, label->size() * scale);
        EXPECT_GE(textContrast(image, area), 4.5) << label->text().toStdString();
        checked << label->text();
    }
    // The subtitle, reset lines and the footer's "Demo data" at least.
    EXPECT_TRUE(checked.contains(QStringLiteral("Demo data"))) << checked.join(" | ").toStdString();
    EXPECT_GE(checked.size(), 4) << checked.join(" | ").toStdString();
    QApplication::setPalette(light);
}

// A 1024x600 netbook screen with a 24 px bar, as Qt sees it at this run's scale: the panel the placement
// gives keeps its footer on the screen, and the cards scroll above it.
TEST(PanelScreenshot, ASmallScreenKeepsTheFooterInView)
{
    const qreal scale = qApp->devicePixelRatio();
    const auto logical = [scale](int pixels) { return qRound(pixels / scale); };
    PanelPlacement::Request request;
    request.screens = {
        {QRect(0, 0, logical(1024), logical(600)), QRect(0, logical(24), logical(1024), logical(576))}};
    request.cursor = QPoint(logical(1000), logical(10));
    const QRect frame = PanelPlacement::place(request).frame;
    ASSERT_TRUE(request.screens[0].availableGeometry.contains(frame));

    AppSettings settings = UiTest::onboarded();
    settings.demoMode = true;
    auto state = UiTest::makeState(settings, {});
    auto* view = new PanelView(*state, {}, PanelFeeds::fromState(*state));
    PanelWindow panel(view, view->dragHandle());
    panel.resize(frame.size());
    panel.show();
    QCoreApplication::processEvents();
    view->redraw();
    QCoreApplication::processEvents();
    for (const char* name : {"quit", "cardColumn"}) {
        const auto* widget = panel.findChild<QWidget*>(QLatin1StringView(name));
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_TRUE(widget->isVisible()) << name;
        EXPECT_TRUE(panel.rect().contains(QRect(widget->mapTo(&panel, QPoint(0, 0)), widget->size())))
            << name;
    }
    const auto* column = panel.findChild<QScrollArea*>(QStringLiteral("cardColumn"));
    EXPECT_GT(column->verticalScrollBar()->maximum(), 0); // the cards scroll instead of running off
    keep(panel.grab().toImage(), QStringLiteral("panel-1024x600"));
}

TEST(PanelScreenshot, NothingClippedAtALargerFont)
{
    const QFont normal = QApplication::font();
    QFont larger = normal;
    larger.setPointSizeF(normal.pointSizeF() * 1.25);
    QApplication::setFont(larger);
    AppSettings settings = UiTest::onboarded();
    auto state = UiTest::makeState(settings, liveSnapshots());
    keep(render(*state, true, 0), QStringLiteral("panel-live-large-font"));
    QApplication::setFont(normal);
}

} // namespace
