#pragma once
// The manager's application object. Whatever error escapes an event handler ends in the
// application's standard error box (MsgBox::ApplicationError) instead of ending the program.
// Also loads Qt's German texts for the standard buttons ("Ja", "Nein", "Abbrechen").

#include <QApplication>
#include <stdexcept>

class TPeloApplication : public QApplication {
    Q_OBJECT
public:
    TPeloApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Installs Qt's German translations on the running application; true when found.
    static bool LoadGermanTranslations();
};

// Qt ends the program with abort() when its platform plugin cannot start, e.g. without a
// display. While this object lives (around the application's construction), such a failure
// ends the manager with a German line on stderr and exit code 1 instead, and Qt's own warnings
// of the attempt are held back (shown only if the start succeeds). Release() ends it early.
class TNoDisplayExit {
public:
    TNoDisplayExit();
    ~TNoDisplayExit();
    TNoDisplayExit(const TNoDisplayExit&) = delete;
    TNoDisplayExit& operator=(const TNoDisplayExit&) = delete;
    void Release();

    static const char* const Text;
};

// An error of the manager's own handlers; the text is Latin-1, like every text of the system.
class EPeloError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
