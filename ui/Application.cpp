#include "ui/Application.h"

#include <QMessageBox>
#include <QWidget>

#include <stdexcept>

#include "engine/IoError.h"

namespace dxfkonv {

QString ErrorText(const std::exception& error)
{
    if (const auto* io = dynamic_cast<const ConversionError*>(&error)) {
        switch (io->code()) {
        case kNotAsciiDxf:
            return QStringLiteral("Soubor není textový (ASCII) soubor DXF.");
        case kTextsInUtf8:
            return QStringLiteral("Texty výkresu jsou v kódování UTF-8 (AutoCAD 2007 nebo novější). "
                                  "Uložte výkres jako starší verzi DXF, nebo vypněte Konverzi češtiny.");
        case kChangedMeanwhile:
            return QStringLiteral("Soubor změnil během konverze jiný program; nic nebylo nahrazeno.");
        default:
            break;
        }
    }
    return QString::fromLocal8Bit(error.what());
}

void ShowErrorBox(const QString& text)
{
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

void HandleException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        ShowErrorBox(ErrorText(e));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Neznámá chyba."));
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    SetTitle(QString::fromLatin1(kApplicationTitle));
}

QString TApplication::Title() const
{
    return applicationName();
}

void TApplication::SetTitle(const QString& title)
{
    setApplicationName(title);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
        return true;
    }
}

}  // namespace dxfkonv
