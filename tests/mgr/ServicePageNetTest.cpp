// The page "Management" of the real window driving the real service through the service control
// layer: install, refresh, start, pause, continue, stop and uninstall with their status words,
// button sets and boxes; the silent refresh when the page is shown; install twice; and a user
// without write permission on the service database. Runs in a private network namespace, so
// the started service's monitor lines and FTP probes stay there.

#include "MgrTestSupport.h"

#include "ServiceTestKit.h"
#include <QMessageBox>

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include <unistd.h>

using namespace mgrtest;
using namespace pelorix::scm;

namespace {

// The four control buttons' states: start, stop, pause, continue.
QString Buttons(const TFrmPelo& w) {
    QString set;
    for (const QPushButton* button : {w.Btn3Start, w.Btn3Stop, w.Btn3Pause, w.Btn3Cont})
        set += button->isEnabled() ? QLatin1Char('x') : QLatin1Char('-');
    return set;
}

const QString kStopped = QStringLiteral("x---");
const QString kRunning = QStringLiteral("-xx-");
const QString kPaused = QStringLiteral("-x-x");
const QString kNone = QStringLiteral("----");

// The status word after the "[hh:nn:ss]: " stamp; empty when the stamp is not there.
QString StatusWord(const TFrmPelo& w) {
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\]: (.*)$"));
    const auto match = stamp.match(w.LabStat->text());
    return match.hasMatch() ? match.captured(1) : QString();
}

QString SystemText(DWORD error) {
    return QString::fromLatin1(ErrorText(error));
}

// Clicks refresh until the status word is the wanted one (the service changes state on its own).
bool RefreshUntil(TFrmPelo& w, const QString& word, int timeoutMs = 15000) {
    QElapsedTimer timer;
    timer.start();
    do {
        QTest::mouseClick(w.Btn3Stat, Qt::LeftButton);
        if (StatusWord(w) == word)
            return true;
        QTest::qWait(50);
    } while (timer.elapsed() < timeoutMs);
    return false;
}

bool ServiceRecorded() {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    return ScHandle(OpenServiceA(manager.Get(), "PelorixService", SERVICE_QUERY_STATUS)).Get() != nullptr;
}

} // namespace

class ServicePageNetTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MsgBox::clearShown(); }

    void thePageDrivesTheRealServiceThroughItsLife() {
        ServiceHome home(ServiceHome::TalkativeSettings());
        QVERIFY(home.Ready());
        auto w = OpenWindow(home.Dir());
        QVERIFY(!w->Btn3Inst->isEnabled()); // as designed

        // Showing the page without the service: silent "kein Zugriff", installing possible.
        w->PageSet->setCurrentIndex(TFrmPelo::kPageManagement);
        QCOMPARE(StatusWord(*w), QStringLiteral("kein Zugriff"));
        QVERIFY(w->Btn3Inst->isEnabled());
        QCOMPARE(Buttons(*w), kNone);
        QVERIFY(TakeBoxes().empty());

        QTest::mouseClick(w->Btn3Inst, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("installiert"));
        QVERIFY(!w->Btn3Inst->isEnabled());
        QCOMPARE(Buttons(*w), kStopped);
        auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Information);
        QCOMPARE(boxes[0].text,
                 QStringLiteral("NT-Dienst \"Pelorix-Publisher\" wurde erfolgreich im System installiert!"));
        {
            ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
            ScHandle service(OpenServiceA(manager.Get(), "PelorixService", SERVICE_QUERY_CONFIG));
            SERVICE_CONFIG config;
            QVERIFY(QueryServiceConfigA(service.Get(), &config));
            QCOMPARE(config.DisplayName, std::string("Pelorix-Publisher"));
            QCOMPARE(config.BinaryPathName, home.Program());
            QCOMPARE(config.dwServiceType, SERVICE_WIN32_SHARE_PROCESS);
            QCOMPARE(config.dwStartType, SERVICE_AUTO_START);
            QCOMPARE(config.dwErrorControl, SERVICE_ERROR_NORMAL);
        }

        // Installing again fails with the program path and the system's text.
        w->Btn3InstClick();
        QCOMPARE(StatusWord(*w), QStringLiteral("nicht installiert"));
        boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::ApplicationError);
        QCOMPARE(boxes[0].text,
                 MsgBox::ApplicationErrorText(QString::fromLatin1("NT-Dienst \"" + home.Program() +
                                                                  "\" konnte nicht installiert "
                                                                  "werden!\r\n\n") +
                                              SystemText(ERROR_SERVICE_EXISTS)));

        QTest::mouseClick(w->Btn3Stat, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("nicht gestartet"));
        QCOMPARE(Buttons(*w), kStopped);

        QTest::mouseClick(w->Btn3Start, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("gestartet"));
        QCOMPARE(Buttons(*w), kRunning);
        QVERIFY(RefreshUntil(*w, QStringLiteral("aktiviert")));
        QCOMPARE(Buttons(*w), kRunning);

        QTest::mouseClick(w->Btn3Pause, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("pausiert"));
        QCOMPARE(Buttons(*w), kPaused);
        QVERIFY(RefreshUntil(*w, QStringLiteral("pausiert")));
        QCOMPARE(Buttons(*w), kPaused);

        QTest::mouseClick(w->Btn3Cont, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("fortgesetzt"));
        QCOMPARE(Buttons(*w), kRunning);
        QVERIFY(RefreshUntil(*w, QStringLiteral("aktiviert")));

        QTest::mouseClick(w->Btn3Stop, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("beendet"));
        QCOMPARE(Buttons(*w), kStopped);
        QVERIFY(RefreshUntil(*w, QStringLiteral("nicht gestartet")));

        // A start the service cannot take still shows the request's word.
        QTest::mouseClick(w->Btn3Start, Qt::LeftButton);
        // The focus leaves the now disabled button for the harmless refresh, not "Deinstallieren".
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->Btn3Stat));
        QVERIFY(RefreshUntil(*w, QStringLiteral("aktiviert")));
        w->BtnSvcClick(w->Btn3Start); // already running (the button is disabled then)
        QCOMPARE(StatusWord(*w), QStringLiteral("gestartet"));
        QVERIFY(TakeBoxes().empty());

        // The real question, answered with Enter: its default is "Nein", which sends nothing.
        MsgBox::UninstallTestSeam();
        QString asked;
        QString defaultButton;
        QTimer::singleShot(50, w.get(), [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            asked = box->text();
            defaultButton =
                box->defaultButton() ? box->defaultButton()->text().remove(QLatin1Char('&')) : QString();
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::mouseClick(w->Btn3Del, Qt::LeftButton);
        MsgBox::InstallTestSeam();
        QCOMPARE(asked,
                 QString::fromUtf8("Wollen Sie den NT-Dienst \"Pelorix-Publisher\" wirklich löschen?"));
        QCOMPARE(defaultButton, QStringLiteral("Nein"));
        QCOMPARE(StatusWord(*w), QString::fromUtf8("unverändert"));
        QCOMPARE(Buttons(*w), kRunning);
        QVERIFY(TakeBoxes().empty());
        QVERIFY(RefreshUntil(*w, QStringLiteral("aktiviert")));

        // Answered with Yes: the running service is stopped and removed.
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        QTest::mouseClick(w->Btn3Del, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("deinstalliert"));
        QCOMPARE(Buttons(*w), kNone);
        QVERIFY(!w->Btn3Inst->isEnabled());
        QCOMPARE(TakeBoxes().size(), std::size_t(1));
        QElapsedTimer timer;
        timer.start();
        while (ServiceRecorded() && timer.elapsed() < 10000)
            QTest::qWait(50);
        QVERIFY(!ServiceRecorded());

        // Any action now finds no service: the box names it, installing is possible again.
        QTest::mouseClick(w->Btn3Stat, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("kein Zugriff"));
        QVERIFY(w->Btn3Inst->isEnabled());
        boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::ApplicationError);
        QCOMPARE(boxes[0].text, MsgBox::ApplicationErrorText(
                                    QStringLiteral("Zugriff auf den Dienst \"PelorixService\" "
                                                   "(Pelorix-Publisher) ist fehlgeschlagen!\r\n\n") +
                                    SystemText(ERROR_SERVICE_DOES_NOT_EXIST)));
    }

    void aRefreshWhileTheServiceIsStartingShowsUnknown() {
        ServiceHome home(ServiceHome::TalkativeSettings());
        auto w = OpenWindow(home.Dir());
        w->PageSet->setCurrentIndex(TFrmPelo::kPageManagement);
        QTest::mouseClick(w->Btn3Inst, Qt::LeftButton);
        QCOMPARE(Buttons(*w), kStopped);
        // A service process (this one stands in for it) that has reported start pending.
        pelorix::scm::db::Status starting;
        starting.pid = getpid();
        starting.startTime = pelorix::scm::db::ProcessStartTime(getpid()).value_or(0);
        starting.state = SERVICE_START_PENDING;
        QVERIFY(pelorix::scm::db::SaveStatus(home.Database(), "PelorixService", starting));
        // Gone before the home's clean-up, which would end the "service" process.
        const std::unique_ptr<void, std::function<void(void*)>> forget(&home, [&home](void*) {
            std::filesystem::remove(pelorix::scm::db::StatusPath(home.Database(), "PelorixService"));
        });
        QTest::mouseClick(w->Btn3Stat, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("unbekannt"));
        QCOMPARE(Buttons(*w), kStopped);              // unchanged
        QCOMPARE(TakeBoxes().size(), std::size_t(1)); // only the install notice
    }

    void withoutWritePermissionNothingCanBeChanged() {
        ServiceHome home(ServiceHome::TalkativeSettings());
        auto w = OpenWindow(home.Dir());
        w->PageSet->setCurrentIndex(TFrmPelo::kPageManagement);
        QTest::mouseClick(w->Btn3Inst, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("installiert"));
        TakeBoxes();

        // Root may write anywhere: the clicks run as an ordinary user.
        QCOMPARE(chmod(home.Database().c_str(), 0555), 0);
        const uid_t user = geteuid();
        if (user == 0 && seteuid(65534) != 0)
            QSKIP("no ordinary user to act as");
        w->Btn3InstClick();
        const QString installWord = StatusWord(*w);
        QTest::mouseClick(w->Btn3Start, Qt::LeftButton);
        const QString startWord = StatusWord(*w);
        const bool installEnabled = w->Btn3Inst->isEnabled();
        QCOMPARE(seteuid(user), 0);

        QCOMPARE(installWord, QStringLiteral("nicht installiert"));
        QCOMPARE(startWord, QStringLiteral("kein Zugriff"));
        QVERIFY(installEnabled);
        QCOMPARE(Buttons(*w), kNone);
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(2));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::ApplicationError);
        QCOMPARE(
            boxes[0].text,
            MsgBox::ApplicationErrorText(
                QStringLiteral("Kein Zugriff (mangelnde Berechtigung) auf den ServiceContolManager!\r\n\n") +
                SystemText(ERROR_ACCESS_DENIED)));
        QCOMPARE(boxes[1].text, MsgBox::ApplicationErrorText(
                                    QStringLiteral("Zugriff auf den Dienst \"PelorixService\" "
                                                   "(Pelorix-Publisher) ist fehlgeschlagen!\r\n\n") +
                                    SystemText(ERROR_ACCESS_DENIED)));
        // Nothing was started.
        QTest::mouseClick(w->Btn3Stat, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("nicht gestartet"));
    }
};

PELORIX_MGR_TEST_MAIN(ServicePageNetTest)
#include "ServicePageNetTest.moc"
