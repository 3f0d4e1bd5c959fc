// The main window and its dialogs on a small screen: every window's frame lies on the screen,
// every control of a page or form can be scrolled into view, OK and Abbrechen are always on
// the screen, and the saved position is the frame's, clamped so that the title bar is on a
// screen. Run by ctest on the offscreen platform (a screen of 800 x 600, no frames), and by
// scripts/window-fit-check.sh on a real display with a window manager at 1024 x 600 and at
// QT_SCALE_FACTOR=1.5 on 1280 x 800.

#include "MgrTestSupport.h"

#include "mgr/DlgMail.h"
#include "mgr/DlgPage.h"
#include "mgr/InfAbout.h"
#include "mgr/ScreenFit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTextEdit>
#include <QWindow>

using namespace mgrtest;
using pelorix::test::TempDir;

namespace {

QRect ScreenArea(const QWidget* window) {
    return window->screen()->availableGeometry();
}

QString Describe(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// On a display with a window manager: until the window is framed and has settled where the
// manager put it.
void WaitForFrame(QWidget* window) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    QTRY_VERIFY_WITH_TIMEOUT(!window->windowHandle()->frameMargins().isNull(), 3000);
    QTest::qWait(500);
}

bool IsControl(const QWidget* widget) {
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QComboBox*>(widget) || qobject_cast<const QSpinBox*>(widget) ||
           qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget);
}

// Scrolls the whole of widget into view, as far as the scroll area can (ensureWidgetVisible
// brings only the text cursor of an edit field into view).
QRect ScrollIntoView(TScrollingBody* scroll, QWidget* widget) {
    const QRect inBody(widget->mapTo(scroll->widget(), QPoint()), widget->size());
    scroll->ensureVisible(inBody.center().x(), inBody.center().y(), inBody.width() / 2 + 1,
                          inBody.height() / 2 + 1);
    return QRect(widget->mapTo(scroll->viewport(), QPoint()), widget->size());
}

// The controls of the scrolling bodies inside top that cannot be brought into view.
QStringList Unreachable(QWidget* top) {
    QStringList out;
    for (TScrollingBody* scroll : top->findChildren<TScrollingBody*>()) {
        if (!scroll->isVisible())
            continue;
        const QRect view = scroll->viewport()->rect();
        for (QWidget* widget : scroll->widget()->findChildren<QWidget*>()) {
            // (the line edit inside a combo or spin box goes with its box)
            if (!IsControl(widget) || IsControl(widget->parentWidget()) ||
                !widget->isVisibleTo(scroll->widget()))
                continue;
            const QRect placed = ScrollIntoView(scroll, widget);
            if (!view.contains(placed))
                out << widget->objectName() + QStringLiteral(" at ") + Describe(placed);
        }
    }
    return out;
}

// A button of a shown window lies whole on the screen and inside its window.
void VerifyOnScreen(QAbstractButton* button) {
    QVERIFY(button);
    QVERIFY2(button->isVisible(), qPrintable(button->objectName()));
    const QRect global(button->mapToGlobal(QPoint()), button->size());
    QVERIFY2(ScreenArea(button).contains(global),
             qPrintable(button->objectName() + QStringLiteral(" at ") + Describe(global)));
    QVERIFY2(button->window()->geometry().contains(global), qPrintable(button->objectName()));
}

void VerifyFrameOnScreen(QWidget* window) {
    const QRect frame = window->frameGeometry();
    QVERIFY2(ScreenArea(window).contains(frame),
             qPrintable(Describe(frame) + QStringLiteral(" on ") + Describe(ScreenArea(window))));
}

std::string IniWithPosition(int left, int top) {
    return "[Settings]\r\nMessages=0\r\nRouter=0\r\nLeft=" + std::to_string(left) +
           "\r\nTop=" + std::to_string(top) + "\r\n";
}

} // namespace

class WindowFitTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MsgBox::clearShown(); }

    void theMainWindowFitsAndEveryPageScrollsToItsLastControl() {
        TempDir dir;
        dir.Write("Pelorix.ini", IniWithPosition(1, 1)); // the first start
        auto w = OpenWindow(dir);
        WaitForFrame(w.get());
        VerifyFrameOnScreen(w.get());
        for (const int page :
             {int(TFrmPelo::kPageParameter), int(TFrmPelo::kPageMonitor), int(TFrmPelo::kPageAddresses)}) {
            w->PageSet->setCurrentIndex(page);
            QTest::qWait(20);
            const QStringList lost = Unreachable(w.get());
            QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral(", "))));
        }
        // The last control of "Parameter" is there to be reached.
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        QTest::qWait(20);
        auto* scroll = w->Sheet1->findChild<TScrollingBody*>();
        QVERIFY(scroll);
        QVERIFY(scroll->viewport()->rect().contains(ScrollIntoView(scroll, w->CbErr)));
        MsgBox::clearShown();
    }

    void theDialogsFitWithOkAndAbbrechenOnTheScreen() {
        TDlgMailP mail;
        mail.RbAuthA->setChecked(true);
        mail.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mail));
        WaitForFrame(&mail);
        VerifyFrameOnScreen(&mail);
        VerifyOnScreen(mail.BtnOK);
        VerifyOnScreen(mail.BtnEsc);
        VerifyOnScreen(mail.BtnCheck);
        QStringList lost = Unreachable(&mail);
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral(", "))));

        TDlgPages pages;
        pages.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pages));
        WaitForFrame(&pages);
        VerifyFrameOnScreen(&pages);
        VerifyOnScreen(pages.BtnOK);
        VerifyOnScreen(pages.BtnEsc);
        lost = Unreachable(&pages);
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral(", "))));

        TAboutBox about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        WaitForFrame(&about);
        VerifyFrameOnScreen(&about);
        VerifyOnScreen(about.BitBtn1);
    }

    void aPlaceOffTheScreenComesBackWithTheTitleBarOnIt_data() {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::newRow("first start") << 1 << 1;
        QTest::newRow("far left and below") << -5000 << 99999;
        QTest::newRow("far right and above") << 99999 << -5000;
    }

    void aPlaceOffTheScreenComesBackWithTheTitleBarOnIt() {
        QFETCH(int, left);
        QFETCH(int, top);
        TempDir dir;
        dir.Write("Pelorix.ini", IniWithPosition(left, top));
        QPoint frameCorner;
        {
            auto w = OpenWindow(dir);
            WaitForFrame(w.get());
            VerifyFrameOnScreen(w.get());
            frameCorner = w->frameGeometry().topLeft();
            if (left == 1)
                QVERIFY2(frameCorner.x() == 1 && frameCorner.y() <= 1,
                         qPrintable(Describe(w->frameGeometry())));
            w->close();
        }
        // What is saved is the frame's corner, so the next start puts it there again.
        const std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "Left").value_or("?"), std::to_string(frameCorner.x()));
        QCOMPARE(IniValue(ini, "Settings", "Top").value_or("?"), std::to_string(frameCorner.y()));
        MsgBox::clearShown();
    }
};

PELORIX_MGR_TEST_MAIN(WindowFitTest)
#include "WindowFitTest.moc"
