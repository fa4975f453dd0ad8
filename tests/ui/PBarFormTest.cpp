// The progress window as built, and that it reaches the screen drawn while
// no event loop turns.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QtTest/QTest>

#include "ui/qt/PBar_f.h"

namespace dxfkonv {
namespace {

TEST(PBarForm, IsAHiddenFixedGrayDialogAt200By112WithItsPanelAndGauge)
{
    TPBarForm form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("PBarForm"));
    EXPECT_EQ(form.windowType(), Qt::Dialog);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form.size(), QSize(328, 57));
    EXPECT_EQ(form.minimumSize(), QSize(328, 57));
    EXPECT_EQ(form.maximumSize(), QSize(328, 57));
    EXPECT_EQ(form.pos(), QPoint(200, 112));
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(128, 128, 128));
    EXPECT_TRUE(form.autoFillBackground());
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(form.font().pointSize(), 8);

    EXPECT_EQ(form.Panel1->objectName(), QStringLiteral("Panel1"));
    EXPECT_EQ(form.Panel1->parentWidget(), &form);
    EXPECT_EQ(form.Panel1->geometry(), QRect(8, 8, 313, 41));
    EXPECT_EQ(form.Panel1->frameShape(), QFrame::Panel);
    EXPECT_EQ(form.Panel1->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(form.Panel1->lineWidth(), 1);
    EXPECT_EQ(form.Gauge1->objectName(), QStringLiteral("Gauge1"));
    EXPECT_EQ(form.Gauge1->parentWidget(), form.Panel1);
    EXPECT_EQ(form.Gauge1->geometry(), QRect(8, 8, 297, 25));
    EXPECT_EQ(form.Gauge1->Progress(), 0);

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.pos(), QPoint(200, 112));
    form.close();
}

TEST(PBarForm, ItsCloseBoxOnlyHidesIt)
{
    TPBarForm form;
    EXPECT_FALSE(form.testAttribute(Qt::WA_QuitOnClose));
    EXPECT_FALSE(form.testAttribute(Qt::WA_DeleteOnClose));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    form.show();  // and it can be shown again
    EXPECT_TRUE(form.isVisible());
    form.hide();
}

// What the window system has of the window: its last drawing on the screen.
QImage onScreen(const QWidget& window)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(window.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

TEST(PBarForm, IsOnTheScreenFullyDrawnAndFollowsTheGaugeWithoutAnEventLoop)
{
    TPBarForm form;
    form.Gauge1->SetProgress(0);
    form.ShowDrawn();  // no event is processed by the test from here on
    QImage screen = onScreen(form);
    ASSERT_EQ(screen.size(), QSize(328, 57));

    const QPoint gauge = form.Gauge1->mapTo(&form, QPoint(0, 0));
    EXPECT_EQ(screen.pixel(2, 2), qRgb(128, 128, 128));                         // the window
    EXPECT_EQ(screen.pixel(gauge), qRgb(0, 0, 0));                              // the gauge's border
    EXPECT_EQ(screen.pixel(gauge + QPoint(2, 2)), qRgb(255, 255, 255));         // its background
    EXPECT_NE(screen.pixel(8, 8), qRgb(128, 128, 128));                         // the panel's bevel

    form.Gauge1->SetProgress(60);
    screen = onScreen(form);
    EXPECT_EQ(screen.pixel(gauge + QPoint(2, 2)), qRgb(0, 0, 255));
    EXPECT_EQ(screen.pixel(gauge + QPoint(1 + form.Gauge1->BarWidth(), 2)), qRgb(255, 255, 255));
    form.hide();
}

}  // namespace
}  // namespace dxfkonv
