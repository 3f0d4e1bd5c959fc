#pragma once
// The manager's message dialogs: information, warning, error and the Yes/No confirmation, plus
// the application's standard error box for errors that escape an event handler. Every box of the
// manager goes through here, so tests can answer them: with the test seam installed nothing is
// shown, each box is recorded and a confirmation takes the next queued answer (No when none is
// queued). GUI thread only.

#include "mgrcore/MgrTexts.h"

#include <QString>
#include <vector>

class QWidget;

namespace MsgBox {

enum class Kind { Information, Warning, Error, Confirmation, ApplicationError };
enum class Answer { Yes, No };

// The application title, caption of the standard error box.
QString ApplicationTitle();

void Information(const QString& text);
void Warning(const QString& text);
void Error(const QString& text);
// True when the user answered Yes; defaultAnswer is the button Enter gives.
bool Confirm(const QString& text, Answer defaultAnswer = Answer::Yes);

// A box the manager's core chose; a confirmation's answer is ignored.
void ShowBox(const pelorix::Box& box);

// The standard error box: application title as caption, stop icon, OK button; a period is
// appended when the text's last character sorts above ".".
void ApplicationError(const QString& text);
QString ApplicationErrorText(const QString& text);

// Test seam.
struct Shown {
    Kind kind;
    QString text;
};
void InstallTestSeam();
// Real boxes again, for a test that needs the box's own modal loop.
void UninstallTestSeam();
void setNextAnswer(Answer answer);
const std::vector<Shown>& shown();
void clearShown();

} // namespace MsgBox
