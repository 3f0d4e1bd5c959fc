#include "mgr/MsgBox.h"

#include <QApplication>
#include <QMessageBox>
#include <deque>

namespace MsgBox {
namespace {

struct Seam {
    bool installed = false;
    std::deque<Answer> answers;
    std::vector<Shown> shown;
};

Seam& TheSeam() {
    static Seam seam;
    return seam;
}

// The texts keep Windows line ends ("\r\n\n"); a Qt label wants plain line feeds.
QString ForDisplay(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.remove(QLatin1Char('\r'));
    return shown;
}

QString CaptionOf(Kind kind) {
    switch (kind) {
    case Kind::Information:
        return QStringLiteral("Information");
    case Kind::Warning:
        return QStringLiteral("Warnung");
    case Kind::Error:
        return QStringLiteral("Fehler");
    case Kind::Confirmation:
        return QStringLiteral("Bestätigung");
    case Kind::ApplicationError:
        break;
    }
    return ApplicationTitle();
}

QMessageBox::Icon IconOf(Kind kind) {
    switch (kind) {
    case Kind::Information:
        return QMessageBox::Information;
    case Kind::Warning:
        return QMessageBox::Warning;
    case Kind::Confirmation:
        return QMessageBox::Question;
    case Kind::Error:
    case Kind::ApplicationError:
        break;
    }
    return QMessageBox::Critical;
}

// Shows (or records) one box; true when it was answered with Yes.
bool Show(Kind kind, const QString& text, Answer defaultAnswer = Answer::Yes) {
    Seam& seam = TheSeam();
    if (seam.installed) {
        seam.shown.push_back({kind, text});
        if (kind != Kind::Confirmation)
            return false;
        if (seam.answers.empty())
            return false;
        const Answer answer = seam.answers.front();
        seam.answers.pop_front();
        return answer == Answer::Yes;
    }
    const auto buttons = kind == Kind::Confirmation ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(IconOf(kind), CaptionOf(kind), ForDisplay(text), buttons, QApplication::activeWindow());
    if (kind == Kind::Confirmation)
        box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

QString ApplicationTitle() {
    return QStringLiteral("Pelorix-Manager");
}

void Information(const QString& text) {
    Show(Kind::Information, text);
}
void Warning(const QString& text) {
    Show(Kind::Warning, text);
}
void Error(const QString& text) {
    Show(Kind::Error, text);
}
bool Confirm(const QString& text, Answer defaultAnswer) {
    return Show(Kind::Confirmation, text, defaultAnswer);
}

QString ApplicationErrorText(const QString& text) {
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void ApplicationError(const QString& text) {
    Show(Kind::ApplicationError, ApplicationErrorText(text));
}

void InstallTestSeam() {
    TheSeam().installed = true;
}
void UninstallTestSeam() {
    TheSeam().installed = false;
}
void setNextAnswer(Answer answer) {
    TheSeam().answers.push_back(answer);
}
const std::vector<Shown>& shown() {
    return TheSeam().shown;
}
void clearShown() {
    TheSeam().shown.clear();
    TheSeam().answers.clear();
}

void ShowBox(const pelorix::Box& box) {
    const QString text = QString::fromLatin1(box.Text.data(), static_cast<qsizetype>(box.Text.size()));
    switch (box.Kind) {
    case pelorix::BoxKind::Information:
        Information(text);
        break;
    case pelorix::BoxKind::Warning:
        Warning(text);
        break;
    case pelorix::BoxKind::Error:
        Error(text);
        break;
    case pelorix::BoxKind::Confirmation:
        Confirm(text);
        break;
    case pelorix::BoxKind::ApplicationError:
        ApplicationError(text);
        break;
    }
}

} // namespace MsgBox
