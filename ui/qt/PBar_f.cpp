#include "ui/qt/PBar_f.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>

#include "ui/qt/Forms.h"

namespace dxfkonv {

namespace {

// How long to wait for the window system to expose a newly shown window.
constexpr qint64 kExposeWaitMs = 1000;

}  // namespace

TPBarForm::TPBarForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("PBarForm"));
    setWindowTitle(QStringLiteral("PBarForm"));
    StyleForm(this);
    setFixedSize(kClientWidth, kClientHeight);
    move(200, 112);
    // Its close box only hides it; it never ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    Panel1 = MakePanel(this, "Panel1", QRect(8, 8, 313, 41));
    Gauge1 = new TGauge(Panel1);
    Gauge1->setObjectName(QStringLiteral("Gauge1"));
    Gauge1->setGeometry(8, 8, 297, 25);
}

void TPBarForm::ShowDrawn()
{
    show();
    raise();
    QWindow* window = windowHandle();
    QElapsedTimer waited;
    waited.start();
    // Exposed in the window system's eyes and in the widget's: the latter
    // comes with the exposure event, which waits in the queue.
    const auto exposed = [&] { return window->isExposed() && testAttribute(Qt::WA_Mapped); };
    while (window && !exposed() && waited.elapsed() < kExposeWaitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!exposed())
            QThread::msleep(2);
    }
    repaint();
}

void TPBarForm::SetCaption(const std::string& caption)
{
    setWindowTitle(QString::fromStdString(caption));
}

void TPBarForm::SetGauge(int value)
{
    Gauge1->SetProgress(value);
}

void TPBarForm::Hide()
{
    hide();
}

}  // namespace dxfkonv
