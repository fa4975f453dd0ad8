// The progress window: names the file being converted and shows how far
// its conversion has got.
#pragma once

#include <QFrame>
#include <QWidget>

#include "ui/Gauge.h"

namespace dxfkonv {

class TPBarForm : public QWidget {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 328;
    static constexpr int kClientHeight = 57;

    explicit TPBarForm(QWidget* parent = nullptr);

    // Shows the window and has it on the screen, fully drawn, before
    // returning, although the caller keeps the event loop from turning:
    // only the window system's events (never the user's input) are taken
    // while waiting for the window to be exposed.
    void ShowDrawn();

    QFrame* Panel1;
    TGauge* Gauge1;
};

}  // namespace dxfkonv
