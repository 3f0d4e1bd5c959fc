// Every page of the main window and both dialogs show their German captions whole: no label,
// check box, radio button or button is narrower than its text needs, and every control lies
// inside its parent. With PELORIX_SHOTS_DIR set (scripts/screenshots.sh runs this under Xvfb),
// each page and dialog is also photographed into that directory.

#include "MgrTestSupport.h"

#include "mgr/DlgMail.h"
#include "mgr/DlgPage.h"
#include "mgr/InfAbout.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScrollArea>

using namespace mgrtest;
using pelorix::test::TempDir;

namespace {

const std::string kIni =
    "[Settings]\nFTPHost=ftp.example.org\nFTPUser=meier\nFTPSite=/htdocs/ip.htm\n"
    "FTPPassive=1\nRouter=1\nIPSource=checkip.example.net/\neMail=1\nAddPages=1\n"
    "AddPage0=/srv/vorlagen/start.htm\nAddPage5=/srv/www/start.htm\nMessages=0\n"
    "MsgLevel=2\nLogFile=1\nHTMLTemplate=/opt/pelorix/Online.htm\n"
    "TempSite=/opt/pelorix/PelorixTmp.htm\nLeft=20\nTop=20\n"
    "[Hosts]\nFTPHost1=ftp.example.org\nFTPUser1=meier\n"
    "[SendMail]\nServer=smtp.example.org\nFrom=meier@example.org\nTo=freunde@example.org\n"
    "Auth=Auth\nAuthID=meier\n";

// Names every control whose text does not fit or that sticks out of its parent.
QStringList CutControls(QWidget* top) {
    QStringList cut;
    for (QWidget* widget : top->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(top))
            continue;
        const bool captioned = qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget);
        if (captioned && (widget->width() < widget->sizeHint().width() ||
                          widget->height() < widget->minimumSizeHint().height()))
            cut << widget->objectName() + QStringLiteral(" too small");
        if (auto* group = qobject_cast<QGroupBox*>(widget);
            group && group->width() < group->minimumSizeHint().width())
            cut << widget->objectName() + QStringLiteral(" title cut");
        QWidget* parent = widget->parentWidget();
        const bool scrolled = parent && qobject_cast<QScrollArea*>(parent->parentWidget()); // a page's body
        if (parent && !widget->isWindow() && !qobject_cast<QLabel*>(widget) /* status images */ &&
            !scrolled && !parent->rect().contains(widget->geometry()))
            cut << widget->objectName() + QStringLiteral(" outside its parent");
    }
    return cut;
}

void Shoot(QWidget* window, const QString& name) {
    const QString dir = qEnvironmentVariable("PELORIX_SHOTS_DIR");
    if (dir.isEmpty())
        return;
    window->raise();
    QTest::qWait(300); // let it paint
    const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    const int rc = QProcess::execute(QStringLiteral("/usr/bin/import"),
                                     {QStringLiteral("-window"), QString::number(window->winId()), file});
    if (rc != 0)
        qWarning("import failed for %s", qPrintable(file));
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void everyPageShowsItsControlsWhole_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("shot");
        QTest::newRow("Parameter") << int(TFrmPelo::kPageParameter) << "page1-parameter";
        QTest::newRow("Service-Monitor") << int(TFrmPelo::kPageMonitor) << "page2-service-monitor";
        QTest::newRow("Management") << int(TFrmPelo::kPageManagement) << "page3-management";
        QTest::newRow("IP-Adressen") << int(TFrmPelo::kPageAddresses) << "page4-ip-adressen";
    }

    void everyPageShowsItsControlsWhole() {
        QFETCH(int, page);
        QFETCH(QString, shot);
        TempDir dir;
        dir.Write("Pelorix.ini", kIni);
        auto w = OpenWindow(dir);
        w->PageSet->setCurrentIndex(page);
        QTest::qWait(20);
        Shoot(w.get(), shot);
        const QStringList cut = CutControls(w.get());
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
        // the design size, or what the German captions need beyond it (the connection row of
        // the FTP settings and the command field take two rows more than the design had)
        QVERIFY(w->width() >= 500 && w->width() <= 640);
        QVERIFY2(w->height() >= 569 && w->height() <= 670, qPrintable(QString::number(w->height())));
        MsgBox::clearShown();
    }

    void mailDialogShowsItsControlsWhole() {
        TDlgMailP dialog;
        dialog.EdServer->setText(QStringLiteral("smtp.example.org"));
        dialog.CbSecurity->setCurrentIndex(1); // STARTTLS, as most providers ask on port 587
        dialog.EdFrom->setText(QStringLiteral("meier@example.org"));
        dialog.EdName->setText(QStringLiteral("Pelorix"));
        dialog.EdTo->setText(QStringLiteral("freunde@example.org"));
        dialog.EdSubject->setText(QStringLiteral("dynamische IP-Adresse ist %IP%"));
        dialog.SetMailText(QStringLiteral("Die IP-Adresse lautet: %IP%\r\nhttp://%IP%,  ftp://%IP%\r\n"
                                          "[ gueltig seit %Date%, %Time% Uhr ]"));
        dialog.RbAuthA->setChecked(true);
        dialog.EdID->setText(QStringLiteral("meier"));
        dialog.EdPw->setText(QStringLiteral("geheim"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        Shoot(&dialog, QStringLiteral("dialog-mail"));
        const QStringList cut = CutControls(&dialog);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
    }

    void pagesDialogShowsItsControlsWhole() {
        TDlgPages dialog;
        dialog.findChild<QLineEdit*>(QStringLiteral("EdP0"))
            ->setText(QStringLiteral("/srv/vorlagen/start.htm"));
        dialog.findChild<QLineEdit*>(QStringLiteral("EdP5"))->setText(QStringLiteral("/srv/www/start.htm"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        Shoot(&dialog, QStringLiteral("dialog-pages"));
        const QStringList cut = CutControls(&dialog);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
    }

    void aboutBoxShowsItsControlsWhole() {
        TAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        Shoot(&box, QStringLiteral("dialog-about"));
        const QStringList cut = CutControls(&box);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
    }
};

PELORIX_MGR_TEST_MAIN(LayoutTest)
#include "LayoutTest.moc"
