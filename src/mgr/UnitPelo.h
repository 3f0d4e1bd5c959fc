#pragma once
// TFrmPelo, the manager's main window: the console of the publishing service. It holds the
// in-memory copy of Pelorix.ini, shows it on the page "Parameter", saves it when that page is
// left or the window closes, and hides behind a tray icon in tray mode. The pages
// "Service-Monitor", "Management" and "IP-Adressen" get their behaviour in UnitPelo_Monitor.cpp,
// UnitPelo_Service.cpp and UnitPelo_Address.cpp. Created by main (or a test) on the GUI thread,
// which runs everything here.
//
// Controls carry their names as object names and keep the kind prefixes (Ed, Cb, Rb, Btn, Lab,
// Gr). A control's tag is its dynamic property "tag" (Tag/SetTag).

#include "common/Config.h"
#include "mgr/OpenDialog.h"
#include "mgrcore/MonitorLine.h"
#include "svc/PageUpload.h"

#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QTcpServer;
class QTcpSocket;
class QTextEdit;
class QTimer;
class QToolButton;

// State of the other pages' behaviour, defined in their own files.
struct MonitorPart;
struct ServicePart;
struct AddressPart;
struct PartDeleter {
    void operator()(MonitorPart* part) const;
    void operator()(ServicePart* part) const;
    void operator()(AddressPart* part) const;
};

class TFrmPelo : public QMainWindow {
    Q_OBJECT
public:
    // Loads the settings from programDir + "Pelorix.ini" (programDir with its trailing "/").
    explicit TFrmPelo(const std::string& programDir = pelorix::ProgramDir(), QWidget* parent = nullptr);
    ~TFrmPelo() override;
    TFrmPelo(const TFrmPelo&) = delete;
    TFrmPelo& operator=(const TFrmPelo&) = delete;

    const std::string& ProgramDirectory() const { return programDir_; }

    // A relative path (such as the default "Offline.htm") taken from the program directory, not
    // from wherever the program was started; absolute and empty paths as they are.
    std::string ProgramPath(const std::string& path) const;

    static int Tag(const QObject* control);
    static void SetTag(QObject* control, int tag);

    // Writes everything to the file; shows the restart notice, or the error box on failure.
    void SaveSettings();

    // Hides the window behind the tray icon "Pelorix (Pause)".
    void EnterTrayMode();

    // The tray icon's reaction to one complete status line from the monitor receiver; does
    // nothing unless the window is in tray mode. errorLine: the line is no "+" line.
    void TrayIconUpdate(bool errorLine, const QString& line);

    // How long an information line keeps the tray icon active.
    static int IdleIntervalMs;

    // Page indices of PageSet.
    enum { kPageParameter = 0, kPageMonitor = 1, kPageManagement = 2, kPageAddresses = 3 };

    // --- Controls ---------------------------------------------------------------------------
    QTabWidget* PageSet = nullptr;
    QWidget* Sheet1 = nullptr;
    QWidget* Sheet2 = nullptr;
    QWidget* Sheet3 = nullptr;
    QWidget* Sheet4 = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* ImageDot = nullptr;
    QLabel* ImageKrz = nullptr;

    // Page "Parameter"
    QGroupBox* Gr2lokal = nullptr;
    QLabel* Label211 = nullptr;
    QLineEdit* EdVorl = nullptr;
    QToolButton* BtnOpen1a = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* EdOffl = nullptr;
    QToolButton* BtnOpen1b = nullptr;
    QLabel* Label212 = nullptr;
    QLineEdit* EdGen = nullptr;
    QToolButton* BtnOpen1c = nullptr;
    QCheckBox* CbPages = nullptr;
    QPushButton* BtnPages = nullptr;
    QLabel* Label2311 = nullptr;
    QLineEdit* EdLoop = nullptr;
    QLabel* Label2312 = nullptr;
    QLabel* Label213 = nullptr;
    QLineEdit* EdCmd = nullptr; // OnPublish

    QGroupBox* Gr2Ftp = nullptr;
    QLabel* Label221 = nullptr;
    QComboBox* EdHost = nullptr;
    QCheckBox* CbPassive = nullptr;
    QLabel* Label222 = nullptr;
    QComboBox* EdUser = nullptr;
    QLabel* Label223 = nullptr;
    QLineEdit* EdPass = nullptr;
    QLabel* Label224 = nullptr;
    QComboBox* EdSite = nullptr;
    QLabel* Label225 = nullptr;
    QComboBox* CbMode = nullptr; // FTPMode, in the order of its values
    QLabel* Label226 = nullptr;
    QLineEdit* EdPort = nullptr; // FTPPort, 0 for the mode's standard port
    QLabel* LabPlain = nullptr;  // the warning shown while plain FTP is selected
    QPushButton* Btn2Check = nullptr;
    QCheckBox* CbMail = nullptr;
    QPushButton* BtnMail = nullptr;
    QToolButton* Btn2Help = nullptr;

    QGroupBox* Gr2Http = nullptr;
    QLabel* Label231 = nullptr;
    QComboBox* EdRout = nullptr;
    QLabel* Label232 = nullptr;
    QCheckBox* CbRout = nullptr;
    QComboBox* CbIPv6 = nullptr;  // IPv6, in the order of its values
    QLineEdit* EdRout6 = nullptr; // IPSource6

    QGroupBox* Gr2Work = nullptr;
    QGroupBox* Group231 = nullptr;
    QCheckBox* CbMsg = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* EdLevel = nullptr;
    QLabel* Label2 = nullptr;
    QCheckBox* CbLog = nullptr;
    QGroupBox* Group232 = nullptr;
    QRadioButton* RbVisible = nullptr;
    QRadioButton* RbHide = nullptr;
    QCheckBox* CbErr = nullptr;

    // Page "Service-Monitor"
    QGroupBox* GrMon = nullptr;
    QTextEdit* List = nullptr;
    QPushButton* BtnOnOff = nullptr;
    QPushButton* BtnClear = nullptr;
    QToolButton* Btn1Info = nullptr;

    // Page "Management"
    QLabel* Lab30 = nullptr;
    QGroupBox* Gr31 = nullptr;
    QLabel* Lab31 = nullptr;
    QLabel* LabStat = nullptr;
    QPushButton* Btn3Stat = nullptr;
    QGroupBox* Gr32 = nullptr;
    QPushButton* Btn3Start = nullptr;
    QPushButton* Btn3Stop = nullptr;
    QPushButton* Btn3Pause = nullptr;
    QPushButton* Btn3Cont = nullptr;
    QGroupBox* Gr33 = nullptr;
    QPushButton* Btn3Inst = nullptr;
    QPushButton* Btn3Del = nullptr;

    // Page "IP-Adressen"
    QGroupBox* Gr4 = nullptr;
    QLabel* Lab41 = nullptr;
    QPlainTextEdit* Memo4IPs = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Ed4Host = nullptr;
    QLabel* Lab42 = nullptr;
    QLineEdit* Ed4IP = nullptr;
    QLabel* Lab43 = nullptr;
    QLineEdit* Ed4IP6 = nullptr; // the IPv6 address for "%IP6%", shown while IPv6 is chosen
    QPushButton* Btn4Akt = nullptr;
    QPushButton* Btn4Up = nullptr;
    QPushButton* Btn4Off = nullptr;
    QToolButton* Btn4Info = nullptr;

    // Outside the pages
    TOpenDialog DlgOpen;
    QMenu* PopupTray = nullptr;
    QAction* mInfo = nullptr;
    QAction* mOpen = nullptr;
    QAction* mEnd = nullptr;
    QTcpServer* SrvSock = nullptr; // the monitor's listening socket, port 60123

    // --- Settings held besides the controls (texts Latin-1) -------------------------------
    pelorix::TMailData MailData;
    std::string IPSourceX;
    pelorix::IPv6Settings IPv6; // Use and Source live in CbIPv6 and EdRout6
    // FTPTrust: what the FTP server is trusted by; set by the answer Yes after a check.
    std::string FTPTrust;
    // FTPTrustKept: the trust of the other connection types (common/TrustKept.h).
    std::string FTPTrustKept;
    std::array<std::string, 10> AddPageFiles; // 0..4 templates, n+5 the result of n
    std::int32_t IntervalUnits = 30;
    bool SettingsChanged = false;
    bool WindowModeChanged = false;

    // --- Tray state ---------------------------------------------------------------------------
    bool TrayMode = false;
    bool TrayError = false;
    QTimer* IdleTimer = nullptr; // exists only in tray mode

    // --- Monitor receiver state ---------------------------------------------------------------
    std::string LineBuffer;

public slots:
    // Page "Parameter" and the window
    void SettingsChange();
    void BtnOpenClick(QObject* Sender);
    void CbPagesClick();
    void BtnPagesClick();
    void CbMailClick();
    void BtnMailClick();
    void LoopChanged();
    void EdFtpKeyPress(QComboBox* Sender);
    void EdFtpExit(QComboBox* Sender);
    void EdUserClick();
    void CbRoutClick();
    void BtnHelpClick();

    // Tray and visibility
    void RbHideClick(QObject* Sender);
    void BtnInfoClick();
    void mOpenClick();
    void mEndClick();
    void IdleTimerTick();
    void TrayCallback(int mouseMessage);

    // Page "Service-Monitor" (UnitPelo_Monitor.cpp)
    void BtnOnOffClick();
    void BtnClearClick();
    void SrvSockListen();
    void SrvSockClientConnect(QTcpSocket* Socket);
    void SrvSockClientRead(QTcpSocket* Socket);

    // Page "Management" (UnitPelo_Service.cpp)
    void BtnSvcClick(QObject* Sender);
    void Btn3InstClick();

    // Page "IP-Adressen" (UnitPelo_Address.cpp)
    void Btn4AktClick(QObject* Sender);
    void Btn4UpClick(QObject* Sender);
    // "Verbindung prüfen": logs in with the values in the fields, nothing is stored.
    void Btn2CheckClick();
    pelorix::PageUploadParams ConnectionParams() const;
    void CbModeChange();

public:
    // Page "IP-Adressen" (UnitPelo_Address.cpp)
    bool QueryAddressPage(const std::string& page);
    // The text of Ed4IP (IPv6 alone: of Ed4IP6) for "%IP%" in the manual upload and mail.
    std::string PublishedAddressText() const;
    bool SendAddressMail(bool online);

signals:
    // The window has closed (after its close-time saving); the program ends then.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWindow();
    QWidget* BuildParameterPage();
    QWidget* BuildMonitorPage();
    QWidget* BuildManagementPage();
    QWidget* BuildAddressPage();
    void BuildStatusBar();
    void BuildTrayMenu();
    void BindParameterPage();
    void BindOtherPages();

    void FormCreate();
    void FormActivate();
    void FormCloseQuery();
    void PageSetChanging(int leavingPage);
    void PageSetChanged(int newPage);
    void PageSetCurrentChanged(int newPage);
    void CommitFocusedEdit();
    void ApplyTrayStep(const pelorix::TrayStep& step, const QString& line);
    void RecallUserPassword();
    pelorix::ManagerSettings SettingsFromControls() const;
    QStringList KeepStoredForNotLatin1(pelorix::ManagerSettings& settings) const;

    // Hooks of the other pages' files, run once at the end of construction.
    void MonitorInit();
    void ServiceInit();
    void AddressInit();

    // The window's place and size: the frame's position the file gave (Left, Top), put onto the
    // screen again once the window manager has framed the window; the design size, or what the
    // pages need beyond it, shrunk to the screen.
    void WatchForFrame(int ticksLeft);
    QPoint StoredPosition() const;
    QSize NaturalSize() const;
    static constexpr int kDesignWidth = 500;
    static constexpr int kDesignHeight = 569;
    static constexpr int kFrameWatchMs = 50;
    static constexpr int kFrameWatchTicks = 40;
    QPoint requestedPosition_;
    bool restoreMeasured_ = false;

    std::string programDir_;
    bool loading_ = false;
    bool activated_ = false;
    int currentPage_ = kPageMonitor;
    // The connection type FTPTrust belongs to; -1 while the settings are being shown.
    int trustMode_ = -1;
    // FTPTrustKept with FTPTrust entered for the shown type, host and port.
    std::string TrustKeptNow() const;
    std::unique_ptr<MonitorPart, PartDeleter> monitor_;
    std::unique_ptr<ServicePart, PartDeleter> service_;
    std::unique_ptr<AddressPart, PartDeleter> address_;
};
