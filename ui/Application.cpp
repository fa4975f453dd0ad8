#include "ui/Application.h"

#include <QMessageBox>
#include <QWidget>

#include <stdexcept>

namespace dxfkonv {

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
        ShowErrorBox(QString::fromLocal8Bit(e.what()));
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
