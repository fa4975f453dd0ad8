// The progress window: names the file being converted and shows how far
// its conversion has got. The batch (MainFormLogic) sees it as a
// PBarFormView.
#pragma once

#include <QFrame>
#include <QWidget>

#include <string>

#include "ui/qt/Gauge.h"
#include "ui/logic/PBarFormView.h"

namespace dxfkonv {

class TPBarForm : public QWidget, public PBarFormView {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 328;
    static constexpr int kClientHeight = 57;

    explicit TPBarForm(QWidget* parent = nullptr);

    // Shows the window and has it on the screen, fully drawn, before
    // returning, although the caller keeps the event loop from turning:
    // only the window system's events (never the user's input) are taken
    // while waiting for the window to be exposed.
    void ShowDrawn() override;

    void SetCaption(const std::string& caption) override;
    void SetGauge(int value) override;
    void Hide() override;

    QFrame* Panel1;
    TGauge* Gauge1;
};

}  // namespace dxfkonv
