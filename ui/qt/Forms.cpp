#include "ui/qt/Forms.h"

#include <QPalette>
#include <QWidget>

namespace dxfkonv {

QFont FormFont()
{
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void StyleForm(QWidget* form)
{
    form->setFont(FormFont());
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, kFormColor);
    form->setPalette(palette);
    form->setAutoFillBackground(true);
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setGeometry(geometry);
    return panel;
}

}  // namespace dxfkonv
