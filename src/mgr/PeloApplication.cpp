#include "mgr/PeloApplication.h"

#include "mgr/MsgBox.h"
#include "mgr/TBProcs.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

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

namespace {

struct HeldMessage {
    QtMsgType type;
    QString category;
    QString text;
};

QtMessageHandler gPreviousHandler = nullptr;
std::vector<HeldMessage>* gHeld = nullptr;

void NoDisplayHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs(TNoDisplayExit::Text, stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (gHeld)
        gHeld->push_back({type, QString::fromLatin1(context.category ? context.category : ""), message});
}

} // namespace

const char* const TNoDisplayExit::Text =
    "Pelorix-Manager: keine grafische Anzeige erreichbar (DISPLAY nicht gesetzt oder der X-Server "
    "antwortet nicht). Der Manager braucht eine Desktop-Sitzung.\n";

TNoDisplayExit::TNoDisplayExit() {
    gHeld = new std::vector<HeldMessage>;
    gPreviousHandler = qInstallMessageHandler(&NoDisplayHandler);
}

TNoDisplayExit::~TNoDisplayExit() {
    Release();
}

void TNoDisplayExit::Release() {
    if (!gHeld)
        return;
    qInstallMessageHandler(gPreviousHandler);
    const std::vector<HeldMessage> held = std::move(*gHeld);
    delete gHeld;
    gHeld = nullptr;
    for (const HeldMessage& message : held) {
        const QByteArray category = message.category.toLatin1();
        const QMessageLogContext context(nullptr, 0, nullptr,
                                         category.isEmpty() ? nullptr : category.constData());
        qt_message_output(message.type, context, message.text);
    }
}
