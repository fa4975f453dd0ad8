// The application object and its default error handler.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <utility>

class QWidget;

namespace dxfkonv {

// The program's short title: the message boxes' caption.
inline constexpr const char* kApplicationTitle = "dxfkonv";

// Shows an error in a message box with the stop icon and an OK button,
// titled with the application's title, and waits until it is closed.
void ShowErrorBox(const QString& text);

// Asks a question in a message box with the question icon and the buttons
// "Ano" and "Ne", titled like the error box; true for "Ano".
bool AskQuestion(const QString& question);

// The default handler: anything thrown out of an event handler ends up
// here and is shown in the error box, in the form logic's words
// (FailureText: "File access denied.", or Czech for a refused drawing).
void HandleException(std::exception_ptr error);

// Runs an event handler; what it throws goes to the default handler
// instead of on through the windowing toolkit, and the program goes on
// waiting for input.
template <typename Handler>
void RunHandler(Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);

    QString Title() const;
    void SetTitle(const QString& title);

    // Every event passes here; an exception out of its handling is shown
    // by the default handler.
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace dxfkonv
