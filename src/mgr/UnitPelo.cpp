#include "mgr/UnitPelo.h"

#include "common/TrustKept.h"
#include "mgr/DlgMail.h"
#include "mgr/DlgPage.h"
#include "mgr/InfAbout.h"
#include "mgr/MgrWidgets.h"
#include "mgr/ModeChoice.h"
#include "mgr/MsgBox.h"
#include "mgr/PasswordStyle.h"
#include "mgr/ScreenFit.h"
#include "mgr/TBProcs.h"
#include "mgrcore/Interval.h"
#include "mgrcore/MgrTexts.h"
#include "mgrcore/MonitorLine.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTcpServer>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <map>

namespace {

template <class T> T* MakeCaptioned(QWidget* parent, const char* name, const QString& caption) {
    auto* widget = Make<T>(parent, name);
    widget->setText(caption);
    return widget;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QString& caption) {
    auto* group = Make<QGroupBox>(parent, name);
    group->setTitle(caption);
    return group;
}

QToolButton* MakeSmallButton(QWidget* parent, const char* name, QStyle::StandardPixmap picture,
                             const QString& hint) {
    auto* button = Make<QToolButton>(parent, name);
    button->setIcon(parent->style()->standardIcon(picture));
    button->setToolTip(hint);
    return button;
}

QComboBox* MakeHistoryBox(QWidget* parent, const char* name) {
    auto* box = Make<QComboBox>(parent, name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert); // the history rules decide what is added
    box->setCompleter(nullptr);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(12);
    return box;
}

QPushButton* MakeTaggedButton(QWidget* parent, const char* name, const QString& caption, int tag,
                              const QString& hint) {
    auto* button = MakeCaptioned<QPushButton>(parent, name, caption);
    TFrmPelo::SetTag(button, tag);
    if (!hint.isEmpty())
        button->setToolTip(hint);
    return button;
}

// Close rows, so the page keeps near the window's design size of 500 x 569.
void Tighten(QLayout* layout) {
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(3);
}

} // namespace

int TFrmPelo::IdleIntervalMs = pelorix::kTrayActiveMs;

int TFrmPelo::Tag(const QObject* control) {
    return control->property("tag").toInt();
}
void TFrmPelo::SetTag(QObject* control, int tag) {
    control->setProperty("tag", tag);
}

TFrmPelo::TFrmPelo(const std::string& programDir, QWidget* parent)
    : QMainWindow(parent), programDir_(programDir) {
    BuildWindow();
    BindParameterPage();
    BindOtherPages();
    MonitorInit();
    ServiceInit();
    AddressInit();
    FormCreate();
}

TFrmPelo::~TFrmPelo() = default;

std::string TFrmPelo::ProgramPath(const std::string& path) const {
    if (path.empty() || path.front() == '/')
        return path;
    return programDir_ + path;
}

// --- Building the window ------------------------------------------------------------------

void TFrmPelo::BuildWindow() {
    InitManagerResources();
    setObjectName(QStringLiteral("FrmPelo"));
    setWindowTitle(FromL1(pelorix::WindowCaption()));
    setWindowIcon(LoadIconRes(QStringLiteral("MAINICON")));
    resize(kDesignWidth, kDesignHeight);

    PageSet = Make<QTabWidget>(this, "PageSet");
    Sheet1 = BuildParameterPage();
    Sheet2 = BuildMonitorPage();
    Sheet3 = BuildManagementPage();
    Sheet4 = BuildAddressPage();
    PageSet->addTab(Sheet1, QStringLiteral("Parameter"));
    PageSet->addTab(Sheet2, QStringLiteral("Service-Monitor"));
    PageSet->addTab(Sheet3, QStringLiteral("Management"));
    PageSet->addTab(Sheet4, QStringLiteral("IP-Adressen"));
    PageSet->setCurrentIndex(kPageMonitor); // the page active in the design
    setCentralWidget(PageSet);

    BuildStatusBar();
    BuildTrayMenu();

    DlgOpen.Title = QStringLiteral("Datei auswählen");
    DlgOpen.DefaultExt = QStringLiteral("*.htm");
    DlgOpen.Filter = QStringLiteral(
        "HTML-Datei (*.htm; *.html)|*.htm; *.html|Text-Datei (*.txt)|*.txt|beliebige Datei|*.*");

    SrvSock = new QTcpServer(this);
    SrvSock->setObjectName(QStringLiteral("SrvSock"));
}

QWidget* TFrmPelo::BuildParameterPage() {
    auto* page = Make<QWidget>(this, "Sheet1");
    auto* layout = new QVBoxLayout(AddScrollingBody(page));
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    Gr2lokal = MakeGroup(page, "Gr2lokal", QStringLiteral("lokale Einstellungen"));
    {
        auto* grid = new QGridLayout(Gr2lokal);
        Tighten(grid);
        Label211 = MakeLabel(Gr2lokal, "Label211", QStringLiteral("HTML-Vorlage:"));
        EdVorl = Make<QLineEdit>(Gr2lokal, "EdVorl");
        BtnOpen1a = MakeSmallButton(Gr2lokal, "BtnOpen1a", QStyle::SP_DirOpenIcon, QString());
        Label4 = MakeLabel(Gr2lokal, "Label4", QStringLiteral("Abmelde-Vorlage:"));
        EdOffl = Make<QLineEdit>(Gr2lokal, "EdOffl");
        BtnOpen1b = MakeSmallButton(Gr2lokal, "BtnOpen1b", QStyle::SP_DirOpenIcon, QString());
        Label212 = MakeLabel(Gr2lokal, "Label212", QStringLiteral("lokale Kopie der  Generatorseite:"));
        EdGen = Make<QLineEdit>(Gr2lokal, "EdGen");
        BtnOpen1c = MakeSmallButton(Gr2lokal, "BtnOpen1c", QStyle::SP_DirOpenIcon, QString());
        grid->addWidget(Label211, 0, 0);
        grid->addWidget(EdVorl, 0, 1, 1, 3);
        grid->addWidget(BtnOpen1a, 0, 4);
        grid->addWidget(Label4, 1, 0);
        grid->addWidget(EdOffl, 1, 1, 1, 3);
        grid->addWidget(BtnOpen1b, 1, 4);
        grid->addWidget(Label212, 2, 0);
        grid->addWidget(EdGen, 2, 1, 1, 3);
        grid->addWidget(BtnOpen1c, 2, 4);

        CbPages = MakeCaptioned<QCheckBox>(Gr2lokal, "CbPages",
                                           QStringLiteral("weitere Seiten mit IP-Adr. aktualisieren"));
        BtnPages = MakeCaptioned<QPushButton>(Gr2lokal, "BtnPages", QStringLiteral("weitere Seiten"));
        BtnPages->setEnabled(false);
        grid->addWidget(CbPages, 3, 0, 1, 2);
        grid->addWidget(BtnPages, 3, 2, 1, 2, Qt::AlignRight);

        Label2311 = MakeLabel(Gr2lokal, "Label2311", QStringLiteral("IP-Adresse  prüfen alle:"));
        EdLoop = Make<QLineEdit>(Gr2lokal, "EdLoop");
        EdLoop->setText(QStringLiteral("10:00"));
        EdLoop->setFixedWidth(EdLoop->fontMetrics().horizontalAdvance(QStringLiteral("  000:000")) + 12);
        Label2312 = MakeLabel(Gr2lokal, "Label2312", QStringLiteral("Min:Sec"));
        auto* loopRow = new QHBoxLayout;
        loopRow->addWidget(EdLoop);
        loopRow->addWidget(Label2312);
        loopRow->addStretch(1);
        grid->addWidget(Label2311, 4, 0);
        grid->addLayout(loopRow, 4, 1, 1, 3);

        Label213 = MakeLabel(Gr2lokal, "Label213", QStringLiteral("Befehl nach Upload:"));
        EdCmd = Make<QLineEdit>(Gr2lokal, "EdCmd");
        EdCmd->setToolTip(QStringLiteral(
            "Läuft nach jedem erfolgreichen Upload (und der e-Mail) über /bin/sh im Programmverzeichnis,\n"
            "höchstens 60 Sekunden lang. %IP% wird durch die neue Adresse ersetzt, %Date% und %Time%\n"
            "durch Datum und Uhrzeit wie in der Seite. Umgebungsvariablen: PELORIX_IP (neue Adresse),\n"
            "PELORIX_OLD_IP (bisherige Adresse, leer nach dem Dienststart). Leer: kein Befehl."));
        grid->addWidget(Label213, 5, 0);
        grid->addWidget(EdCmd, 5, 1, 1, 4);
        grid->setColumnStretch(1, 1);
    }
    layout->addWidget(Gr2lokal);

    Gr2Ftp = MakeGroup(page, "Gr2Ftp", QStringLiteral("FTP-Einstellungen"));
    {
        auto* grid = new QGridLayout(Gr2Ftp);
        Tighten(grid);
        Label221 = MakeLabel(Gr2Ftp, "Label221", QStringLiteral("FTP-Host:"));
        EdHost = MakeHistoryBox(Gr2Ftp, "EdHost");
        CbPassive = MakeCaptioned<QCheckBox>(Gr2Ftp, "CbPassive", QStringLiteral("Passivmodus"));
        Label222 = MakeLabel(Gr2Ftp, "Label222", QStringLiteral("FTP-User-Name:"));
        EdUser = MakeHistoryBox(Gr2Ftp, "EdUser");
        Label223 = MakeLabel(Gr2Ftp, "Label223", QStringLiteral("FTP-Passwort:"));
        EdPass = Make<QLineEdit>(Gr2Ftp, "EdPass");
        MakePasswordField(EdPass);
        Label224 = MakeLabel(Gr2Ftp, "Label224", QStringLiteral("UpLoad-Seite: (inclusive Pfad)"));
        EdSite = MakeHistoryBox(Gr2Ftp, "EdSite");
        CbMail =
            MakeCaptioned<QCheckBox>(Gr2Ftp, "CbMail", QStringLiteral("e-Mail nach FTP-UpLoad versenden"));
        BtnMail = MakeCaptioned<QPushButton>(Gr2Ftp, "BtnMail", QStringLiteral("e-Mail-Daten"));
        BtnMail->setEnabled(false);
        Btn2Help =
            MakeSmallButton(Gr2Ftp, "Btn2Help", QStyle::SP_MessageBoxQuestion, QStringLiteral("Hilfe"));
        grid->addWidget(Label221, 0, 0);
        grid->addWidget(EdHost, 0, 1);
        grid->addWidget(CbPassive, 0, 2, 1, 2);
        grid->addWidget(Label222, 1, 0);
        grid->addWidget(EdUser, 1, 1);
        grid->addWidget(Label223, 2, 0);
        grid->addWidget(EdPass, 2, 1);
        grid->addWidget(Label224, 3, 0);
        grid->addWidget(EdSite, 3, 1, 1, 3);

        Label225 = MakeLabel(Gr2Ftp, "Label225", QStringLiteral("Verbindung:"));
        CbMode = Make<QComboBox>(Gr2Ftp, "CbMode");
        FillModeChoice(CbMode);
        Label226 = MakeLabel(Gr2Ftp, "Label226", QStringLiteral("Port:"));
        EdPort = Make<QLineEdit>(Gr2Ftp, "EdPort");
        EdPort->setValidator(new QIntValidator(0, 65535, EdPort));
        EdPort->setText(QStringLiteral("0"));
        EdPort->setFixedWidth(EdPort->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);
        // The columns right of user and password take the mail controls, so that mode, port,
        // warning and check fit below the upload path.
        grid->addWidget(CbMail, 1, 2, 1, 2);
        grid->addWidget(BtnMail, 2, 2);
        grid->addWidget(Btn2Help, 2, 3, Qt::AlignRight);
        Btn2Check = MakeCaptioned<QPushButton>(Gr2Ftp, "Btn2Check", QStringLiteral("Verbindung prüfen"));
        auto* portRow = new QHBoxLayout;
        portRow->addWidget(Label226);
        portRow->addWidget(EdPort);
        portRow->addStretch(1);
        portRow->addWidget(Btn2Check);
        grid->addWidget(Label225, 4, 0);
        grid->addWidget(CbMode, 4, 1);
        grid->addLayout(portRow, 4, 2, 1, 2);
        LabPlain = MakeLabel(Gr2Ftp, "LabPlain",
                             QStringLiteral("Passwort und Seite gehen unverschlüsselt über das Netz"));
        grid->addWidget(LabPlain, 5, 0, 1, 4);
        grid->setColumnStretch(1, 1);
    }
    layout->addWidget(Gr2Ftp);

    Gr2Http = MakeGroup(page, "Gr2Http", QStringLiteral("Router-Betrieb"));
    {
        auto* grid = new QGridLayout(Gr2Http);
        Tighten(grid);
        Label231 = MakeLabel(Gr2Http, "Label231", QStringLiteral("HTTP-Seite:"));
        EdRout = MakeHistoryBox(Gr2Http, "EdRout");
        Label232 = MakeLabel(Gr2Http, "Label232", QStringLiteral("(stellt die aktuelle IP-Adresse bereit)"));
        CbRout = MakeCaptioned<QCheckBox>(Gr2Http, "CbRout", QStringLiteral("Router-Betriebsart verwenden"));
        CbRout->setChecked(true); // the design state; loading never asks the router question
        grid->addWidget(Label231, 0, 0);
        grid->addWidget(EdRout, 0, 1);
        // The box shares the hint's row, which leaves room for the command field above.
        grid->addWidget(CbRout, 1, 0);
        grid->addWidget(Label232, 1, 1);
        // The IPv6 choice and its page take a narrow column beside, so the group keeps its height.
        CbIPv6 = Make<QComboBox>(Gr2Http, "CbIPv6");
        CbIPv6->addItems(
            {QStringLiteral("nur IPv4"), QStringLiteral("IPv4 und IPv6"), QStringLiteral("nur IPv6")});
        CbIPv6->setToolTip(QStringLiteral("IPv6-Adresse ermitteln und veröffentlichen (%IP6%)"));
        EdRout6 = Make<QLineEdit>(Gr2Http, "EdRout6");
        EdRout6->setPlaceholderText(QStringLiteral("IPv6-Seite"));
        EdRout6->setToolTip(QStringLiteral("Router-Betrieb: Seite, die die IPv6-Adresse bereitstellt "
                                           "(leer: Adresse der Schnittstelle)"));
        grid->addWidget(CbIPv6, 0, 2);
        grid->addWidget(EdRout6, 1, 2);
        grid->setColumnStretch(1, 1);
    }
    layout->addWidget(Gr2Http);

    Gr2Work = MakeGroup(page, "Gr2Work", QStringLiteral("Arbeitsweise"));
    {
        auto* row = new QHBoxLayout(Gr2Work);
        Tighten(row);
        Group231 = MakeGroup(Gr2Work, "Group231", QStringLiteral("Service-Meldungen"));
        auto* messages = new QGridLayout(Group231);
        Tighten(messages);
        CbMsg = MakeCaptioned<QCheckBox>(Group231, "CbMsg", QStringLiteral("Statusmeldungen anzeigen"));
        Label1 = MakeLabel(Group231, "Label1", QStringLiteral("Meldungs-Niveau:"));
        EdLevel = Make<QSpinBox>(Group231, "EdLevel");
        EdLevel->setRange(0, 4);
        Label2 = MakeLabel(Group231, "Label2", QStringLiteral("0 - niedrig   4 - hoch"));
        CbLog = MakeCaptioned<QCheckBox>(Group231, "CbLog", QStringLiteral("Log-File schreiben"));
        messages->addWidget(CbMsg, 0, 0, 1, 2);
        messages->addWidget(Label1, 1, 0);
        messages->addWidget(EdLevel, 1, 1, Qt::AlignLeft);
        messages->addWidget(Label2, 2, 0, 1, 2);
        messages->addWidget(CbLog, 3, 0, 1, 2);

        Group232 = MakeGroup(Gr2Work, "Group232", QStringLiteral("Manager-Fenster"));
        auto* window = new QVBoxLayout(Group232);
        Tighten(window);
        RbVisible = MakeCaptioned<QRadioButton>(Group232, "RbVisible", QStringLiteral("sichtbar"));
        RbVisible->setChecked(true);
        RbHide =
            MakeCaptioned<QRadioButton>(Group232, "RbHide", QStringLiteral("versteckt (als Taskbar-Icon)"));
        CbErr = MakeCaptioned<QCheckBox>(Group232, "CbErr", QStringLiteral("bei Fehlern melden"));
        CbErr->setChecked(true);
        CbErr->setEnabled(false);
        window->addWidget(RbVisible);
        window->addWidget(RbHide);
        window->addWidget(CbErr);
        window->addStretch(1);

        row->addWidget(Group231, 1);
        row->addWidget(Group232, 1);
    }
    layout->addWidget(Gr2Work);
    layout->addStretch(1);
    return page;
}

QWidget* TFrmPelo::BuildMonitorPage() {
    auto* page = Make<QWidget>(this, "Sheet2");
    auto* layout = new QVBoxLayout(AddScrollingBody(page));
    GrMon = MakeGroup(page, "GrMon", QStringLiteral("Service-Meldungen"));
    auto* inner = new QVBoxLayout(GrMon);
    List = Make<QTextEdit>(GrMon, "List");
    List->setAcceptRichText(true);
    List->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    List->setLineWrapMode(QTextEdit::NoWrap);
    QFont listFont = List->font();
    listFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Sans Serif")});
    List->setFont(listFont);
    List->setTextColor(Qt::black);
    inner->addWidget(List, 1);

    auto* buttons = new QHBoxLayout;
    BtnOnOff = MakeTaggedButton(GrMon, "BtnOnOff", QStringLiteral("Monitor &ein"), 1, QString());
    BtnOnOff->setIcon(LoadIconRes(QStringLiteral("BMPSTART")));
    BtnClear = MakeCaptioned<QPushButton>(GrMon, "BtnClear", QStringLiteral("Liste &leeren"));
    Btn1Info = MakeSmallButton(GrMon, "Btn1Info", QStyle::SP_MessageBoxInformation,
                               QStringLiteral("Programminformation"));
    buttons->addWidget(BtnOnOff);
    buttons->addWidget(BtnClear);
    buttons->addStretch(1);
    buttons->addWidget(Btn1Info);
    inner->addLayout(buttons);
    layout->addWidget(GrMon);
    return page;
}

QWidget* TFrmPelo::BuildManagementPage() {
    auto* page = Make<QWidget>(this, "Sheet3");
    auto* layout = new QVBoxLayout(AddScrollingBody(page));

    Lab30 =
        MakeLabel(page, "Lab30", QStringLiteral("Für diese Aktionen müssen Sie Administrator-Rechte haben!"));
    QFont bold = Lab30->font();
    bold.setBold(true);
    Lab30->setFont(bold);
    QPalette grey = Lab30->palette();
    grey.setColor(QPalette::WindowText, Qt::gray);
    Lab30->setPalette(grey);
    Lab30->setAlignment(Qt::AlignCenter);
    layout->addWidget(Lab30);

    Gr31 = MakeGroup(page, "Gr31", QStringLiteral("Dienst-Status"));
    {
        auto* row = new QHBoxLayout(Gr31);
        Lab31 = MakeLabel(Gr31, "Lab31", QStringLiteral("Status:"));
        LabStat = MakeLabel(Gr31, "LabStat", QString());
        LabStat->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        LabStat->setMinimumWidth(200);
        Btn3Stat = MakeTaggedButton(Gr31, "Btn3Stat", QStringLiteral("&Aktualisieren"), 0,
                                    QStringLiteral("Status aktualisieren"));
        row->addWidget(Lab31);
        row->addWidget(LabStat, 1);
        row->addWidget(Btn3Stat);
    }
    layout->addWidget(Gr31);

    Gr32 = MakeGroup(page, "Gr32", QStringLiteral("Dienst-Steuerung"));
    {
        auto* grid = new QGridLayout(Gr32);
        Btn3Start = MakeTaggedButton(Gr32, "Btn3Start", QStringLiteral("Dienst &starten"), 1,
                                     QStringLiteral("Hintergrunddienst starten"));
        Btn3Stop = MakeTaggedButton(Gr32, "Btn3Stop", QStringLiteral("Dienst be&enden"), 2,
                                    QStringLiteral("Hinstergrunddienst beenden"));
        Btn3Pause = MakeTaggedButton(Gr32, "Btn3Pause", QStringLiteral("Dienst an&halten"), 3,
                                     QStringLiteral("Hintergrunddienst anhalten"));
        Btn3Cont = MakeTaggedButton(Gr32, "Btn3Cont", QStringLiteral("Dienst &fortsetzen"), 4,
                                    QStringLiteral("Hintergrunddienst fortsetzen"));
        grid->addWidget(Btn3Start, 0, 0);
        grid->addWidget(Btn3Stop, 0, 1);
        grid->addWidget(Btn3Pause, 1, 0);
        grid->addWidget(Btn3Cont, 1, 1);
    }
    layout->addWidget(Gr32);

    Gr33 = MakeGroup(page, "Gr33", QStringLiteral("Dienst-Installation"));
    {
        auto* row = new QHBoxLayout(Gr33);
        Btn3Inst = MakeTaggedButton(Gr33, "Btn3Inst", QStringLiteral("&Installieren"), 5,
                                    QStringLiteral("Hintergrunddienst bei Windows registrieren"));
        Btn3Inst->setEnabled(false);
        Btn3Del = MakeTaggedButton(Gr33, "Btn3Del", QStringLiteral("&Deinstallieren"), 6,
                                   QStringLiteral("Hintergrunddienst bei Windows abmelden"));
        row->addWidget(Btn3Inst);
        row->addWidget(Btn3Del);
    }
    layout->addWidget(Gr33);
    layout->addStretch(1);
    return page;
}

QWidget* TFrmPelo::BuildAddressPage() {
    auto* page = Make<QWidget>(this, "Sheet4");
    auto* layout = new QVBoxLayout(AddScrollingBody(page));
    Gr4 = MakeGroup(page, "Gr4", QStringLiteral("alle IP-Adressen"));
    auto* grid = new QGridLayout(Gr4);
    Lab41 = MakeLabel(Gr4, "Lab41", QStringLiteral("alle Hostadressen:"));
    Memo4IPs = Make<QPlainTextEdit>(Gr4, "Memo4IPs");
    Memo4IPs->setEnabled(false);
    Memo4IPs->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Label3 = MakeLabel(Gr4, "Label3", QStringLiteral("lokaler Hostname:"));
    Ed4Host = Make<QLineEdit>(Gr4, "Ed4Host");
    Ed4Host->setEnabled(false);
    Lab42 = MakeLabel(Gr4, "Lab42", QStringLiteral("äußere IP-Adresse:"));
    Ed4IP = Make<QLineEdit>(Gr4, "Ed4IP");
    QPalette grey = Ed4IP->palette();
    grey.setColor(QPalette::Text, Qt::gray);
    Ed4IP->setPalette(grey);
    Ed4IP->setText(QStringLiteral("nicht bestimmt"));
    grid->addWidget(Lab41, 0, 0, Qt::AlignTop);
    grid->addWidget(Memo4IPs, 0, 1);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(Ed4Host, 1, 1);
    grid->addWidget(Lab42, 2, 0);
    grid->addWidget(Ed4IP, 2, 1);
    Lab43 = MakeLabel(Gr4, "Lab43", QStringLiteral("äußere IPv6-Adresse:"));
    Ed4IP6 = Make<QLineEdit>(Gr4, "Ed4IP6");
    Ed4IP6->setPalette(grey);
    Ed4IP6->setText(QStringLiteral("nicht bestimmt"));
    grid->addWidget(Lab43, 3, 0);
    grid->addWidget(Ed4IP6, 3, 1);

    Btn4Akt = MakeCaptioned<QPushButton>(Gr4, "Btn4Akt", QStringLiteral("IP-Adressanzeige &aktualisieren"));
    Btn4Up = MakeCaptioned<QPushButton>(Gr4, "Btn4Up", QStringLiteral("Crosspage &manuell hochladen"));
    Btn4Off = MakeCaptioned<QPushButton>(Gr4, "Btn4Off", QStringLiteral("   'bin &offline'-Seite hochladen"));
    Btn4Info = MakeSmallButton(Gr4, "Btn4Info", QStyle::SP_MessageBoxInformation,
                               QStringLiteral("Programminformation"));
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Btn4Akt);
    buttons->addWidget(Btn4Up);
    buttons->addWidget(Btn4Off);
    grid->addLayout(buttons, 4, 1);
    grid->addWidget(Btn4Info, 4, 0, Qt::AlignLeft | Qt::AlignBottom);
    grid->setColumnStretch(1, 1);
    layout->addWidget(Gr4);
    layout->addStretch(1);
    return page;
}

void TFrmPelo::BuildStatusBar() {
    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setMinimumHeight(19);
    // The two images lie on top of each other at x = 450; the monitor shows them.
    ImageDot = MakeLabel(StatusBar, "ImageDot", QString());
    ImageDot->setPixmap(QPixmap(QStringLiteral(":/icons/DOT.png")));
    ImageKrz = MakeLabel(StatusBar, "ImageKrz", QString());
    ImageKrz->setPixmap(QPixmap(QStringLiteral(":/icons/KRZ.png")));
    for (QLabel* image : {ImageDot, ImageKrz}) {
        image->setFixedSize(13, 11);
        image->move(450, 4);
        image->hide();
    }
}

void TFrmPelo::BuildTrayMenu() {
    PopupTray = new QMenu(this);
    PopupTray->setObjectName(QStringLiteral("PopupTray"));
    mInfo = PopupTray->addAction(QStringLiteral("&Info"));
    mInfo->setObjectName(QStringLiteral("mInfo"));
    mOpen = PopupTray->addAction(QStringLiteral("Ö&ffnen"));
    mOpen->setObjectName(QStringLiteral("mOpen"));
    mEnd = PopupTray->addAction(QStringLiteral("&Beenden"));
    mEnd->setObjectName(QStringLiteral("mEnd"));
    connect(mInfo, &QAction::triggered, this, &TFrmPelo::BtnInfoClick);
    connect(mOpen, &QAction::triggered, this, &TFrmPelo::mOpenClick);
    connect(mEnd, &QAction::triggered, this, &TFrmPelo::mEndClick);
}

// --- Bindings -------------------------------------------------------------------------------

void TFrmPelo::BindParameterPage() {
    for (QLineEdit* edit : {EdVorl, EdGen, EdLoop, EdOffl, EdPass, EdPort, EdCmd, EdRout6})
        connect(edit, &QLineEdit::textChanged, this, &TFrmPelo::SettingsChange);
    connect(CbIPv6, &QComboBox::currentIndexChanged, this, [this] {
        EdRout6->setEnabled(CbRout->isChecked() && CbIPv6->currentIndex() != 0);
        SettingsChange();
    });
    connect(CbMode, &QComboBox::currentIndexChanged, this, &TFrmPelo::CbModeChange);
    connect(Btn2Check, &QPushButton::clicked, this, &TFrmPelo::Btn2CheckClick);
    for (QComboBox* box : {EdHost, EdUser, EdSite, EdRout}) {
        connect(box, &QComboBox::editTextChanged, this, &TFrmPelo::SettingsChange);
        connect(box->lineEdit(), &QLineEdit::textEdited, this, [this, box] { EdFtpKeyPress(box); });
        box->installEventFilter(this);
        box->lineEdit()->installEventFilter(this);
    }
    connect(EdLevel, &QSpinBox::valueChanged, this, &TFrmPelo::SettingsChange);
    for (QCheckBox* box : {CbPassive, CbLog, CbMsg})
        connect(box, &QCheckBox::toggled, this, &TFrmPelo::SettingsChange);
    EdLoop->installEventFilter(this);

    for (QToolButton* button : {BtnOpen1a, BtnOpen1b, BtnOpen1c})
        connect(button, &QToolButton::clicked, this, [this, button] { BtnOpenClick(button); });
    connect(CbPages, &QCheckBox::toggled, this, &TFrmPelo::CbPagesClick);
    connect(BtnPages, &QPushButton::clicked, this, &TFrmPelo::BtnPagesClick);
    connect(CbMail, &QCheckBox::toggled, this, &TFrmPelo::CbMailClick);
    connect(BtnMail, &QPushButton::clicked, this, &TFrmPelo::BtnMailClick);
    connect(EdUser, &QComboBox::activated, this, &TFrmPelo::EdUserClick);
    connect(CbRout, &QCheckBox::toggled, this, &TFrmPelo::CbRoutClick);
    connect(Btn2Help, &QToolButton::clicked, this, &TFrmPelo::BtnHelpClick);

    connect(RbVisible, &QRadioButton::clicked, this, [this] { RbHideClick(RbVisible); });
    connect(RbHide, &QRadioButton::clicked, this, [this] { RbHideClick(RbHide); });
    connect(CbErr, &QCheckBox::clicked, this, [this] { RbHideClick(CbErr); });

    connect(PageSet, &QTabWidget::currentChanged, this, &TFrmPelo::PageSetCurrentChanged);
}

void TFrmPelo::BindOtherPages() {
    connect(BtnOnOff, &QPushButton::clicked, this, &TFrmPelo::BtnOnOffClick);
    connect(BtnClear, &QPushButton::clicked, this, &TFrmPelo::BtnClearClick);
    connect(Btn1Info, &QToolButton::clicked, this, &TFrmPelo::BtnInfoClick);
    for (QPushButton* button : {Btn3Stat, Btn3Start, Btn3Stop, Btn3Pause, Btn3Cont, Btn3Del})
        connect(button, &QPushButton::clicked, this, [this, button] { BtnSvcClick(button); });
    connect(Btn3Inst, &QPushButton::clicked, this, &TFrmPelo::Btn3InstClick);
    connect(Btn4Akt, &QPushButton::clicked, this, [this] { Btn4AktClick(Btn4Akt); });
    for (QPushButton* button : {Btn4Up, Btn4Off})
        connect(button, &QPushButton::clicked, this, [this, button] { Btn4UpClick(button); });
    connect(Btn4Info, &QToolButton::clicked, this, &TFrmPelo::BtnInfoClick);
}

// --- Start, first display, closing ----------------------------------------------------------

void TFrmPelo::FormCreate() {
    loading_ = true;
    const pelorix::ManagerSettings s = pelorix::LoadManagerSettings(programDir_);
    requestedPosition_ = QPoint(s.Left, s.Top);
    FitOnScreen(this, NaturalSize(), requestedPosition_);

    EdVorl->setText(FromL1(s.HTMLTemplate));
    EdOffl->setText(FromL1(s.OfflTemplate));
    EdGen->setText(FromL1(s.TempSite));
    EdCmd->setText(FromL1(s.OnPublish));
    EdPass->setText(FromL1(s.FTPPass));
    IPSourceX = s.IPSourceX;

    CbPages->setChecked(s.AddPages);
    BtnPages->setEnabled(CbPages->isChecked());
    AddPageFiles = s.AddPage;

    // The lists first: the first entry added to an empty box would replace its text.
    const std::pair<QComboBox*, const std::vector<std::string>*> histories[] = {{EdHost, &s.HostHistory},
                                                                                {EdUser, &s.UserHistory},
                                                                                {EdSite, &s.SiteHistory},
                                                                                {EdRout, &s.SourceHistory}};
    for (const auto& [box, entries] : histories) {
        box->clear();
        for (const std::string& entry : *entries)
            if (!entry.empty())
                box->addItem(FromL1(entry));
        box->setCurrentIndex(-1);
    }
    EdHost->setEditText(FromL1(s.FTPHost));
    EdUser->setEditText(FromL1(s.FTPUser));
    EdSite->setEditText(FromL1(s.FTPSite));
    EdRout->setEditText(FromL1(s.IPSource));

    CbPassive->setChecked(s.FTPPassive);
    trustMode_ = -1;
    ShowModeChoice(CbMode, s.FTPMode);
    CbModeChange(); // the warning also when the index stays as it was
    EdPort->setText(QString::number(s.FTPPort));
    FTPTrust = s.FTPTrust;
    FTPTrustKept = s.FTPTrustKept;
    trustMode_ = pelorix::ConnectionModeNumber(ChosenMode(CbMode));
    CbMail->setChecked(s.eMail);
    BtnMail->setEnabled(CbMail->isChecked());
    MailData = s.Mail;

    CbRout->setChecked(s.Router);
    EdRout->setEnabled(CbRout->isChecked());
    IPv6 = s.IPv6;
    EdRout6->setText(FromL1(s.IPv6.Source));
    // A number this program does not know shows as IPv4 alone, and is kept until changed.
    CbIPv6->setCurrentIndex(static_cast<int>(s.IPv6.Mode()));
    EdRout6->setEnabled(CbRout->isChecked() && s.IPv6.On());
    CbMsg->setChecked(s.Messages);
    EdLevel->setValue(s.MsgLevel);
    CbLog->setChecked(s.LogFile);

    IntervalUnits = s.Intervall;
    EdLoop->setText(FromL1(pelorix::IntervalText(IntervalUnits)));

    CbErr->setChecked(s.ShowErr);
    if (s.Hidden)
        RbHide->setChecked(true);
    else
        RbVisible->setChecked(true);
    CbErr->setEnabled(RbHide->isChecked());

    if (EdHost->currentText().isEmpty())
        PageSet->setCurrentIndex(kPageParameter);
    currentPage_ = PageSet->currentIndex();

    SettingsChanged = false;
    WindowModeChanged = false;
    TrayMode = RbHide->isChecked();
    for (QComboBox* box : {EdHost, EdUser, EdSite, EdRout})
        SetTag(box, 0);
    ShowBeginnings(this);
    loading_ = false;
}

void TFrmPelo::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    for (QLabel* image : {ImageDot, ImageKrz})
        image->move(450, qMax(0, (StatusBar->height() - image->height()) / 2));
    if (!restoreMeasured_)
        WatchForFrame(kFrameWatchTicks);
    if (!activated_) {
        activated_ = true;
        // Hiding into the tray from within the show event would be undone by the show.
        QTimer::singleShot(0, this, &TFrmPelo::FormActivate);
    }
}

// Where the frame of a window placed before its first show ends up depends on the platform and
// the window manager (some place the client area there), and the frame's true size is known
// only once it is framed: then the frame is put where the file says, clamped onto the screen,
// and the window shrunk if the frame does not fit. A window that was not moved thus saves
// exactly what was restored (or its clamped place), and a moved one comes back where it was
// left.
void TFrmPelo::WatchForFrame(int ticksLeft) {
    if (restoreMeasured_ || ticksLeft <= 0 || !isVisible())
        return;
    const QWindow* handle = windowHandle();
    if (!handle || handle->frameMargins().isNull()) {
        QTimer::singleShot(kFrameWatchMs, this, [this, ticksLeft] { WatchForFrame(ticksLeft - 1); });
        return;
    }
    restoreMeasured_ = true;
    FitOnScreen(this, NaturalSize(), requestedPosition_);
}

QSize TFrmPelo::NaturalSize() const {
    return sizeHint().expandedTo(QSize(kDesignWidth, kDesignHeight));
}

QPoint TFrmPelo::StoredPosition() const {
    return pos();
}

void TFrmPelo::FormActivate() {
    if (CbMsg->isChecked())
        BtnOnOffClick();
    else
        List->append(FromL1(pelorix::MonitorOffNote()));
    if (TrayMode)
        EnterTrayMode();
}

void TFrmPelo::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept(); // closing is never refused
    emit Closed();
}

void TFrmPelo::FormCloseQuery() {
    CommitFocusedEdit();
    if (SrvSock->isListening())
        SrvSock->close();
    if (SettingsChanged)
        SaveSettings();
    std::string ignored;
    pelorix::SaveWindowKeys(programDir_, SettingsFromControls(), WindowModeChanged, ignored);
    WindowModeChanged = false;
}

// --- Settings model -------------------------------------------------------------------------

pelorix::ManagerSettings TFrmPelo::SettingsFromControls() const {
    pelorix::ManagerSettings s;
    s.HTMLTemplate = ToL1(EdVorl->text());
    s.OfflTemplate = ToL1(EdOffl->text());
    s.TempSite = ToL1(EdGen->text());
    s.OnPublish = ToL1(EdCmd->text());
    s.FTPHost = ToL1(EdHost->currentText());
    s.FTPUser = ToL1(EdUser->currentText());
    s.FTPPass = ToL1(EdPass->text());
    s.FTPSite = ToL1(EdSite->currentText());
    s.FTPPassive = CbPassive->isChecked();
    s.FTPMode = pelorix::ConnectionModeNumber(ChosenMode(CbMode));
    s.FTPPort = EdPort->text().toInt();
    s.FTPTrust = FTPTrust;
    s.FTPTrustKept = TrustKeptNow();
    s.Router = CbRout->isChecked();
    s.IPSource = ToL1(EdRout->currentText());
    s.IPSourceX = IPSourceX;
    s.IPv6 = IPv6;
    if (CbIPv6->currentIndex() != static_cast<int>(IPv6.Mode()))
        s.IPv6.Use = CbIPv6->currentIndex();
    s.IPv6.Source = ToL1(EdRout6->text());
    s.AddPages = CbPages->isChecked();
    s.AddPage = AddPageFiles;
    s.eMail = CbMail->isChecked();
    s.Mail = MailData;
    s.Intervall = IntervalUnits;
    s.Messages = CbMsg->isChecked();
    s.MsgLevel = EdLevel->value();
    s.LogFile = CbLog->isChecked();
    s.ShowErr = CbErr->isChecked();
    s.Hidden = RbHide->isChecked();
    const QPoint position = StoredPosition();
    s.Left = position.x();
    s.Top = position.y();
    const std::pair<QComboBox*, std::vector<std::string>*> histories[] = {{EdHost, &s.HostHistory},
                                                                          {EdUser, &s.UserHistory},
                                                                          {EdSite, &s.SiteHistory},
                                                                          {EdRout, &s.SourceHistory}};
    for (const auto& [box, entries] : histories)
        for (int i = 0; i < box->count(); ++i)
            if (IsLatin1(box->itemText(i))) // the field's warning covers the others
                entries->push_back(ToL1(box->itemText(i)));
    return s;
}

void TFrmPelo::SaveSettings() {
    pelorix::ManagerSettings settings = SettingsFromControls();
    const QStringList refused = KeepStoredForNotLatin1(settings);
    if (!refused.isEmpty())
        MsgBox::Warning(NotLatin1Text(refused));
    std::string errorText;
    if (!pelorix::SaveManagerSettings(programDir_, settings, errorText)) {
        MsgBox::Error(FromL1(pelorix::SaveFailedMessage(errorText)));
        return;
    }
    // A refused field still differs from the file.
    SettingsChanged = !refused.isEmpty();
    MsgBox::Information(FromL1(pelorix::RestartNotice()));
}

// A text with characters Latin-1 cannot hold would be stored with "?" in their place (a
// password "pw€x" as "pw?x"); such a field keeps the value the file has, and its caption is
// returned for the warning.
QStringList TFrmPelo::KeepStoredForNotLatin1(pelorix::ManagerSettings& settings) const {
    const std::map<pelorix::SettingsField, QWidget*> fields = {
        {pelorix::SettingsField::HTMLTemplate, EdVorl}, {pelorix::SettingsField::OfflTemplate, EdOffl},
        {pelorix::SettingsField::TempSite, EdGen},      {pelorix::SettingsField::FTPHost, EdHost},
        {pelorix::SettingsField::FTPUser, EdUser},      {pelorix::SettingsField::FTPPass, EdPass},
        {pelorix::SettingsField::FTPSite, EdSite},      {pelorix::SettingsField::IPSource, EdRout},
        {pelorix::SettingsField::OnPublish, EdCmd}};
    std::vector<pelorix::FieldText> texts;
    for (const pelorix::SettingsFieldInfo& info : pelorix::SettingsFields()) {
        const QWidget* field = fields.at(info.Field);
        const auto* box = qobject_cast<const QComboBox*>(field);
        const QString text = box ? box->currentText() : static_cast<const QLineEdit*>(field)->text();
        texts.push_back({ToL1(FieldCaption(field)), std::u16string(Utf16(text)), info.Value});
    }
    QStringList refused;
    for (const std::string& caption : pelorix::KeepStoredForNotLatin1(
             settings, texts, [this] { return pelorix::LoadManagerSettings(programDir_); }))
        refused << FromL1(caption);
    if (!IsLatin1(EdRout6->text())) {
        settings.IPv6.Source = pelorix::LoadManagerSettings(programDir_).IPv6.Source;
        refused << QStringLiteral("IPv6-Seite");
    }
    return refused;
}

void TFrmPelo::SettingsChange() {
    SettingsChanged = true;
}

void TFrmPelo::CbPagesClick() {
    SettingsChanged = true;
    BtnPages->setEnabled(CbPages->isChecked());
}

void TFrmPelo::CbModeChange() {
    LabPlain->setVisible(ChosenMode(CbMode) == pelorix::ConnectionMode::Plain);
    // Each type keeps its own trust: the one left is kept, the one chosen comes back.
    const int mode = pelorix::ConnectionModeNumber(ChosenMode(CbMode));
    if (trustMode_ >= 0 && mode != trustMode_) {
        const std::string host = ToL1(EdHost->currentText());
        const int port = EdPort->text().toInt();
        FTPTrustKept = pelorix::WithKeptTrust(FTPTrustKept, trustMode_, host, port, FTPTrust);
        FTPTrust = pelorix::KeptTrustFor(FTPTrustKept, mode, host, port);
        trustMode_ = mode;
    }
    SettingsChange();
}

std::string TFrmPelo::TrustKeptNow() const {
    const int mode = pelorix::ConnectionModeNumber(ChosenMode(CbMode));
    const std::string host = ToL1(EdHost->currentText());
    const int port = EdPort->text().toInt();
    // A list of the shown type alone is not written: FTPTrust holds it.
    if (pelorix::WithKeptTrust(FTPTrustKept, mode, host, port, {}).empty())
        return {};
    return pelorix::WithKeptTrust(FTPTrustKept, mode, host, port, FTPTrust);
}

void TFrmPelo::CbMailClick() {
    SettingsChanged = true;
    BtnMail->setEnabled(CbMail->isChecked());
}

void TFrmPelo::BtnPagesClick() {
    TDlgPages dialog(this);
    for (int n = 0; n < 10; ++n)
        dialog.findChild<QLineEdit*>(QStringLiteral("EdP%1").arg(n))->setText(FromL1(AddPageFiles[n]));
    dialog.FileDialog = &DlgOpen;
    ShowBeginnings(&dialog);
    dialog.Changed = false;
    if (dialog.exec() != QDialog::Accepted || !dialog.Changed)
        return;
    SettingsChanged = true;
    for (int n = 0; n < 10; ++n)
        AddPageFiles[n] = ToL1(dialog.findChild<QLineEdit*>(QStringLiteral("EdP%1").arg(n))->text());
}

void TFrmPelo::BtnMailClick() {
    TDlgMailP dialog(this);
    dialog.EdServer->setText(FromL1(MailData.Server));
    dialog.EdName->setText(FromL1(MailData.Sender));
    dialog.EdFrom->setText(FromL1(MailData.From));
    dialog.EdTo->setText(FromL1(MailData.To));
    dialog.EdCC->setText(FromL1(MailData.CC));
    dialog.EdBCC->setText(FromL1(MailData.BCC));
    dialog.EdSubject->setText(FromL1(MailData.Subject));
    dialog.SetMailText(FromL1(MailData.Text));
    if (MailData.Auth == "Pop3")
        dialog.RbAuthP->setChecked(true);
    else if (MailData.Auth == "Auth")
        dialog.RbAuthA->setChecked(true);
    dialog.EdPop3->setText(FromL1(MailData.POP3Srv));
    dialog.EdID->setText(FromL1(MailData.AuthID));
    dialog.EdPw->setText(FromL1(MailData.AuthPw));
    dialog.SetSecurity(MailData);
    ShowBeginnings(&dialog);
    dialog.Changed = false;
    if (dialog.exec() != QDialog::Accepted || !dialog.Changed)
        return;
    SettingsChanged = true;
    MailData.Server = ToL1(dialog.EdServer->text());
    MailData.Sender = ToL1(dialog.EdName->text());
    MailData.From = ToL1(dialog.EdFrom->text());
    MailData.To = ToL1(dialog.EdTo->text());
    MailData.CC = ToL1(dialog.EdCC->text());
    MailData.BCC = ToL1(dialog.EdBCC->text());
    MailData.Subject = ToL1(dialog.EdSubject->text());
    MailData.Text = ToL1(dialog.MailText());
    if (dialog.RbAuthP->isChecked())
        MailData.Auth = "Pop3";
    else if (dialog.RbAuthA->isChecked())
        MailData.Auth = "Auth";
    else
        MailData.Auth = "no";
    MailData.POP3Srv = ToL1(dialog.EdPop3->text());
    MailData.AuthID = ToL1(dialog.EdID->text());
    MailData.AuthPw = ToL1(dialog.EdPw->text());
    dialog.TakeSecurity(MailData);
}

void TFrmPelo::BtnOpenClick(QObject* Sender) {
    QLineEdit* field = Sender == BtnOpen1a   ? EdVorl
                       : Sender == BtnOpen1b ? EdOffl
                       : Sender == BtnOpen1c ? EdGen
                                             : nullptr;
    if (!field)
        return;
    DlgOpen.FileName = FromL1(ProgramPath(ToL1(field->text())));
    if (DlgOpen.Execute(this)) {
        field->setText(DlgOpen.FileName);
        field->setCursorPosition(0);
    }
}

void TFrmPelo::LoopChanged() {
    const pelorix::Interval interval = pelorix::IntervalFromText(ToL1(EdLoop->text()));
    EdLoop->setText(FromL1(interval.Text));
    IntervalUnits = interval.Units;
}

void TFrmPelo::EdFtpKeyPress(QComboBox* Sender) {
    SetTag(Sender, 1);
}

void TFrmPelo::EdFtpExit(QComboBox* Sender) {
    if (Tag(Sender) != 1)
        return;
    SetTag(Sender, 0);
    const QString text = Sender->currentText();
    // An emptied box adds no empty entry to its history.
    if (text.isEmpty() || Sender->findText(text, Qt::MatchFixedString) >= 0)
        return;
    const QSignalBlocker blocker(Sender); // appending must not change the text being edited
    Sender->addItem(text);
    Sender->setEditText(text);
}

void TFrmPelo::EdUserClick() {
    RecallUserPassword();
}

void TFrmPelo::RecallUserPassword() {
    EdPass->clear();
    EdPass->setText(FromL1(pelorix::RecallUserPassword(programDir_, ToL1(EdUser->currentText()))));
}

void TFrmPelo::CbRoutClick() {
    const bool before = SettingsChanged;
    SettingsChanged = true;
    if (CbRout->isChecked() && !loading_) {
        if (!MsgBox::Confirm(FromL1(pelorix::RouterQuestion()))) {
            const QSignalBlocker blocker(CbRout);
            CbRout->setChecked(false);
            SettingsChanged = before;
        }
    }
    EdRout->setEnabled(CbRout->isChecked());
    EdRout6->setEnabled(CbRout->isChecked() && CbIPv6->currentIndex() != 0);
}

void TFrmPelo::BtnHelpClick() {
    // Without a browser (no xdg-open) the click would do nothing visible: say where the page is.
    const QString page = FromL1(programDir_ + "LiesMich.htm");
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
        MsgBox::Information(FromL1(pelorix::HelpFailedText(ToL1(page))));
}

// --- Page change ----------------------------------------------------------------------------

void TFrmPelo::PageSetCurrentChanged(int newPage) {
    const int leaving = currentPage_;
    currentPage_ = newPage;
    if (loading_ || leaving == newPage)
        return;
    PageSetChanging(leaving);
    PageSetChanged(newPage);
}

void TFrmPelo::PageSetChanging(int leavingPage) {
    if (leavingPage == kPageParameter) {
        CommitFocusedEdit();
        if (SettingsChanged)
            SaveSettings();
        if (RbHide->isChecked())
            EnterTrayMode();
    } else if (leavingPage == kPageMonitor) {
        const bool monitorOn = Tag(BtnOnOff) == 0;
        if (CbMsg->isChecked() != monitorOn) {
            CbMsg->setChecked(monitorOn);
            SettingsChanged = true;
        }
    }
}

void TFrmPelo::PageSetChanged(int newPage) {
    if (newPage == kPageManagement)
        BtnSvcClick(Btn3Inst);
    else if (newPage == kPageAddresses)
        Btn4AktClick(nullptr);
}

// The exit handlers of a field that still has the focus, so that what was typed there is
// part of a save that happens before the focus moves.
void TFrmPelo::CommitFocusedEdit() {
    if (QApplication::focusWidget() == EdLoop)
        LoopChanged();
    for (QComboBox* box : {EdHost, EdUser, EdSite, EdRout})
        EdFtpExit(box);
}

bool TFrmPelo::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        if (watched == EdLoop) {
            LoopChanged();
        } else {
            for (QComboBox* box : {EdHost, EdUser, EdSite, EdRout})
                if (watched == box || watched == box->lineEdit())
                    EdFtpExit(box);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- Tray mode and window visibility --------------------------------------------------------

void TFrmPelo::RbHideClick(QObject* Sender) {
    WindowModeChanged = true;
    if (Sender == RbVisible)
        CbErr->setEnabled(false);
    else if (Sender == RbHide)
        CbErr->setEnabled(true);
}

void TFrmPelo::EnterTrayMode() {
    if (!IdleTimer) {
        IdleTimer = new QTimer(this);
        IdleTimer->setObjectName(QStringLiteral("IdleTimer"));
        IdleTimer->setInterval(IdleIntervalMs);
        connect(IdleTimer, &QTimer::timeout, this, &TFrmPelo::IdleTimerTick);
    }
    TrayMode = true;
    TaskbarAddIcon(this, 0, QString::fromLatin1(pelorix::TrayIconName(pelorix::TrayIcon::Idle)),
                   FromL1(pelorix::TrayIconTip(pelorix::TrayIcon::Idle)));
    // Without a notification area a hidden window could not be brought back.
    if (TaskbarAvailable())
        hide();
    else
        showMinimized();
}

void TFrmPelo::mOpenClick() {
    TrayMode = false;
    delete IdleTimer;
    IdleTimer = nullptr;
    showNormal();
    raise();
    activateWindow();
    TaskbarDeleteIcon(this, 0);
}

void TFrmPelo::mEndClick() {
    TaskbarDeleteIcon(this, 0);
    close();
}

void TFrmPelo::TrayIconUpdate(bool errorLine, const QString& line) {
    if (!TrayMode)
        return;
    const bool timerRunning = !IdleTimer || IdleTimer->isActive();
    ApplyTrayStep(pelorix::TrayLineStep(!errorLine, timerRunning, CbErr->isChecked(), TrayError), line);
}

void TFrmPelo::ApplyTrayStep(const pelorix::TrayStep& step, const QString& line) {
    if (step.ChangeIcon)
        TaskbarModifyIcon(this, 0, QString::fromLatin1(pelorix::TrayIconName(step.Icon)),
                          FromL1(pelorix::TrayIconTip(step.Icon)));
    if (step.StartTimer && IdleTimer)
        IdleTimer->start();
    if (step.ShowErrorBox)
        MsgBox::Error(FromL1(pelorix::TrayErrorText(ToL1(line))));
}

void TFrmPelo::IdleTimerTick() {
    if (IdleTimer)
        IdleTimer->stop();
    ApplyTrayStep(pelorix::TrayTickStep(TrayError), QString());
}

void TFrmPelo::TrayCallback(int mouseMessage) {
    if (mouseMessage == kTrayLeftDoubleClick) {
        mOpenClick();
    } else if (mouseMessage == kTrayRightButtonUp) {
        activateWindow();
        PopupTray->popup(QCursor::pos());
    }
}

bool TFrmPelo::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(kTrayCallbackMessage)) {
        TrayCallback(static_cast<TTrayCallbackEvent*>(event)->MouseMessage);
        return true;
    }
    return QMainWindow::event(event);
}

void TFrmPelo::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Without a notification area the window was minimised; restoring it ends tray mode.
    if (event->type() == QEvent::WindowStateChange && TrayMode && IdleTimer && !TaskbarAvailable() &&
        !isMinimized() && isVisible())
        mOpenClick();
}

void TFrmPelo::BtnInfoClick() {
    TAboutBox box(this);
    box.exec();
}
