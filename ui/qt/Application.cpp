#include "ui/qt/Application.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <utility>

#include "ui/logic/Messages.h"

namespace dxfkonv {

namespace {

// A message box stands over the window the user works in.
QWidget* BoxOwner()
{
    QWidget* owner = QApplication::activeModalWidget();
    return owner ? owner : QApplication::activeWindow();
}

}  // namespace

void ShowErrorBox(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, BoxOwner());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

bool AskQuestion(const QString& question)
{
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), question,
                    QMessageBox::NoButton, BoxOwner());
    box.setObjectName(QStringLiteral("QuestionBox"));
    QPushButton* yes = box.addButton(QStringLiteral("Ano"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Ne"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void HandleException(std::exception_ptr error)
{
    ShowErrorBox(QString::fromStdString(FailureText(std::move(error))));
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
