// PelorixMgr: the manager program, the console of the publishing service.

#include "mgr/PeloApplication.h"
#include "mgr/UnitPelo.h"
#include "svc/ServiceHelpers.h"

int main(int argc, char** argv) {
    // Started as helper of its own network work, the manager opens no window.
    if (const auto helper_exit = pelorix::RunHelperIfAsked(argc, argv, pelorix::ServiceHelperVerbs()))
        return *helper_exit;
    TNoDisplayExit noDisplay; // without a display: a German line and exit code 1, not Qt's abort
    TPeloApplication app(argc, argv);
    noDisplay.Release();
    // The program ends when the main window closes, also when it closes hidden in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    TFrmPelo FrmPelo;
    QObject::connect(&FrmPelo, &TFrmPelo::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    FrmPelo.show();
    return app.exec();
}
