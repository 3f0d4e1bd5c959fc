#include "mgr/PeloApplication.h"

#include "mgr/MsgBox.h"
#include "mgr/TBProcs.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <exception>

TPeloApplication::TPeloApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(MsgBox::ApplicationTitle());
    setWindowIcon(LoadIconRes(QStringLiteral("MAINICON")));
    LoadGermanTranslations();
}

bool TPeloApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        MsgBox::ApplicationError(QString::fromLatin1(error.what()));
    } catch (...) {
        MsgBox::ApplicationError(QStringLiteral("Unbekannter Fehler"));
    }
    return false;
}

bool TPeloApplication::LoadGermanTranslations() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto* translator = new QTranslator(qApp); // lives as long as the application
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_de"), dir)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}
