// Tray mode: entering it from the setting and by leaving "Parameter", the icon states driven by
// status lines, the tray menu and callback, leaving and ending from the tray, and the desktop
// without a notification area. The icon itself is watched through the tray routines' seam.

#include "MgrTestSupport.h"

#include "ServerProcess.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>

using namespace mgrtest;
using pelorix::test::TempDir;
using TBProcsSeam::Op;

namespace {

const QString kInfoLine = QStringLiteral("[12:00:01] +Seitengenerierung ausgeführt");
const QString kErrorLine = QStringLiteral("[12:00:02] -FTP-Upload gescheitert");

std::vector<TBProcsSeam::Call> TakeCalls() {
    std::vector<TBProcsSeam::Call> calls = TBProcsSeam::Calls();
    TBProcsSeam::Calls().clear();
    return calls;
}

// A window that starts hidden in the tray, with "bei Fehlern melden" as given.
std::unique_ptr<TFrmPelo> OpenInTray(const TempDir& dir, bool showErr = true) {
    dir.Write("Pelorix.ini",
              std::string("[Settings]\nFTPHost=h\nHidden=1\nShowErr=") + (showErr ? "1" : "0") + "\n");
    auto w = OpenWindow(dir);
    for (int i = 0; i < 100 && !w->isHidden(); ++i)
        QTest::qWait(5);
    TakeCalls();
    return w;
}

} // namespace

class TrayTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        MsgBox::clearShown();
        TBProcsSeam::Install(true);
        TBProcsSeam::Calls().clear();
        TFrmPelo::IdleIntervalMs = 1500;
    }

    // Without a display the program says so in German and ends with code 1, not with Qt's abort.
    void withoutADisplayTheProgramEndsWithAGermanLine() {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        program.setProcessEnvironment(environment);
        program.start(QString::fromStdString(pelorix::test::BinaryPath("src/mgr/PelorixMgr")), {});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardError(), QByteArray(TNoDisplayExit::Text));
    }

    void startingHiddenLeavesOnlyTheIdleIcon() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\nHidden=1\n");
        auto w = OpenWindow(dir);
        QTRY_VERIFY(w->isHidden());
        QVERIFY(w->TrayMode);
        QVERIFY(w->RbHide->isChecked());
        QVERIFY(w->CbErr->isEnabled());
        const auto calls = TakeCalls();
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls[0].op, Op::Add);
        QCOMPARE(calls[0].number, 0u);
        QCOMPARE(calls[0].iconName, QStringLiteral("PIC_SW"));
        QCOMPARE(calls[0].tip, QStringLiteral("Pelorix (Pause)"));
        QVERIFY(w->IdleTimer);
        QCOMPARE(w->IdleTimer->interval(), 1500);
        QVERIFY(!w->IdleTimer->isActive());
        QVERIFY(!w->WindowModeChanged);
    }

    void choosingHiddenAndLeavingParameterHidesAfterTheSave() {
        TempDir dir;
        auto w = OpenWindow(dir);
        ClickBox(w->RbHide);
        QVERIFY(w->isVisible()); // not at once
        QVERIFY(TakeCalls().empty());
        TypeInto(w->EdHost, QStringLiteral("h.example"), w->EdUser);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        QCOMPARE(TakeBoxes().size(), std::size_t(1)); // the save's notice came first
        QVERIFY(dir.Exists("Pelorix.ini"));
        QVERIFY(w->isHidden());
        QVERIFY(w->TrayMode);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_SW"));
        QCOMPARE(TBProcsSeam::CurrentTip(w.get(), 0), QStringLiteral("Pelorix (Pause)"));
    }

    void informationLinesKeepTheIconActiveFromTheFirst() {
        TempDir dir;
        TFrmPelo::IdleIntervalMs = 300; // the 1.5 s of the program, scaled down
        auto w = OpenInTray(dir);
        QVERIFY(w->TrayMode && w->isHidden());
        QElapsedTimer clock;
        clock.start();
        w->TrayIconUpdate(false, kInfoLine);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_GN"));
        QCOMPARE(TBProcsSeam::CurrentTip(w.get(), 0), QStringLiteral("Pelorix (aktiv)"));
        QTest::qWait(150);
        w->TrayIconUpdate(false, kInfoLine); // changes nothing while the timer runs
        QCOMPARE(TakeCalls().size(), std::size_t(1));
        // still counting from the first line, not restarted by the second
        QVERIFY(w->IdleTimer->isActive());
        QVERIFY2(w->IdleTimer->remainingTime() < 250, // about 150 left, 300 if restarted
                 qPrintable(QString::number(w->IdleTimer->remainingTime())));
        QTRY_COMPARE_WITH_TIMEOUT(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_SW"), 2000);
        QVERIFY(clock.elapsed() >= 300);
        QCOMPARE(TBProcsSeam::CurrentTip(w.get(), 0), QStringLiteral("Pelorix (Pause)"));
        QVERIFY(!w->IdleTimer->isActive());
        QVERIFY(TakeBoxes().empty());
    }

    void anErrorLineTurnsRedAndReports() {
        TempDir dir;
        auto w = OpenInTray(dir, true);
        w->TrayIconUpdate(true, kErrorLine);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_RT"));
        QCOMPARE(TBProcsSeam::CurrentTip(w.get(), 0), QStringLiteral("Pelorix (Fehler)"));
        QVERIFY(w->TrayError);
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Error);
        QCOMPARE(boxes[0].text, QStringLiteral("Pelorix\r\n\r\n") + kErrorLine);
        w->TrayIconUpdate(true, kErrorLine); // each error line its own box
        QCOMPARE(TakeBoxes().size(), std::size_t(1));
    }

    void anErrorLineWithoutReportingOnlyChangesTheIcon() {
        TempDir dir;
        auto w = OpenInTray(dir, false);
        w->TrayIconUpdate(true, kErrorLine);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_RT"));
        QVERIFY(TakeBoxes().empty());
    }

    void anErrorInTheActivePhaseStaysRedUntilTheNextInformation() {
        TempDir dir;
        auto w = OpenInTray(dir, false);
        w->TrayIconUpdate(false, kInfoLine);
        QVERIFY(w->IdleTimer->isActive());
        w->TrayIconUpdate(true, kErrorLine);
        w->IdleTimerTick(); // the timer elapses
        QVERIFY(!w->IdleTimer->isActive());
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_RT"));
        w->TrayIconUpdate(false, kInfoLine);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_GN"));
        QVERIFY(!w->TrayError);
    }

    void theVisibleWindowIgnoresLines() {
        TempDir dir;
        auto w = OpenWindow(dir);
        w->TrayIconUpdate(true, kErrorLine);
        w->TrayIconUpdate(false, kInfoLine);
        QVERIFY(TakeCalls().empty());
        QVERIFY(TakeBoxes().empty());
        QVERIFY(!w->TrayError);
    }

    void theTrayMenuAndItsCallback() {
        TempDir dir;
        auto w = OpenInTray(dir);
        const QList<QAction*> actions = w->PopupTray->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), QStringLiteral("&Info"));
        QCOMPARE(actions[1]->text(), QStringLiteral("Ö&ffnen"));
        QCOMPARE(actions[2]->text(), QStringLiteral("&Beenden"));

        QCoreApplication::postEvent(w.get(), new TTrayCallbackEvent(0x0201)); // left button down: ignored
        QCoreApplication::postEvent(w.get(), new TTrayCallbackEvent(kTrayRightButtonUp));
        QTRY_VERIFY(w->PopupTray->isVisible());
        QVERIFY(w->isHidden());
        w->PopupTray->hide();

        QCoreApplication::postEvent(w.get(), new TTrayCallbackEvent(kTrayLeftDoubleClick));
        QTRY_VERIFY(w->isVisible());
        QVERIFY(!w->TrayMode);
        QVERIFY(!w->IdleTimer);
        const auto calls = TakeCalls();
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls[0].op, Op::Delete);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QString());
    }

    void openFromTheMenuAndHideAgain() {
        TempDir dir;
        auto w = OpenInTray(dir);
        w->TrayIconUpdate(true, kErrorLine);
        w->mOpen->trigger();
        QVERIFY(w->isVisible());
        QVERIFY(!w->TrayMode);
        QVERIFY(w->TrayError); // kept until the next information line
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor); // RbHide is still checked
        QVERIFY(w->isHidden());
        QVERIFY(w->IdleTimer);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_SW"));
    }

    void endingFromTheTraySavesAndRemovesTheIcon() {
        TempDir dir;
        auto w = OpenInTray(dir);
        w->EdSite->setEditText(QStringLiteral("/changed.htm")); // a pending change
        QSignalSpy closed(w.get(), &TFrmPelo::Closed);
        w->mEnd->trigger();
        QCOMPARE(closed.count(), 1);
        const auto calls = TakeCalls();
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls[0].op, Op::Delete);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QString());
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Information);
        QCOMPARE(IniValue(dir.Read("Pelorix.ini"), "Settings", "FTPSite"),
                 std::optional<std::string>("/changed.htm"));
    }

    void withoutANotificationAreaTheWindowIsMinimised() {
        TBProcsSeam::Install(false);
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\nHidden=1\n");
        auto w = OpenWindow(dir);
        QTRY_VERIFY(w->isMinimized());
        QVERIFY(w->isVisible());
        QVERIFY(w->TrayMode);
        // restoring it by the window system ends tray mode as "Öffnen" would
        w->showNormal();
        QTRY_VERIFY(!w->TrayMode);
        QVERIFY(!w->IdleTimer);
    }

    void trayRoutines() {
        QWidget owner;
        TBProcsSeam::Calls().clear();
        QVERIFY(!TaskbarModifyIcon(&owner, 0, QStringLiteral("PIC_GN"), QStringLiteral("x"))); // no icon yet
        QVERIFY(TaskbarAddIcon(&owner, 65536, QStringLiteral("PIC_SW"), QString(70, QLatin1Char('t'))));
        QCOMPARE(TBProcsSeam::CurrentTip(&owner, 0).size(), 63); // the number is taken modulo 65536
        QVERIFY(!TaskbarAddIcon(&owner, 0, QStringLiteral("PIC_SW"), QString())); // exists already
        QVERIFY(TaskbarModifyIcon(&owner, 0, QStringLiteral("PIC_RT"), QString()));
        QCOMPARE(TBProcsSeam::CurrentTip(&owner, 0), QString());
        QVERIFY(TaskbarDeleteIcon(&owner, 0));
        QVERIFY(!TaskbarDeleteIcon(&owner, 0));
        for (const char* name : {"PIC_SW", "PIC_GN", "PIC_RT", "MAINICON"})
            QVERIFY2(!LoadIconRes(QLatin1String(name)).isNull(), name);
    }
};

PELORIX_MGR_TEST_MAIN(TrayTest)
#include "TrayTest.moc"
