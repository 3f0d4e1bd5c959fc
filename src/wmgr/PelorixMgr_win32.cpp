// PelorixMgr.exe: the manager's window for Windows. What it shows and decides comes from the
// manager's core (fields and their check, interval, texts, line colours); this file only puts
// it into Windows controls. Every control has a fixed id, so a program driving the window
// from outside finds it with GetDlgItem.

#include "base/Latin1.h"
#include "common/Config.h"
#include "common/ConnectionMode.h"
#include "mgrcore/FieldCheck.h"
#include "mgrcore/Interval.h"
#include "mgrcore/MgrTexts.h"
#include "mgrcore/MonitorLine.h"
#include "mgrcore/ServiceActions.h"
#include "svc/StatusLog.h"

// winsock2.h before windows.h, and commctrl.h after it.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace pelorix;

// Control ids; the driver of the tests uses the same numbers.
enum : int {
    IdPageSet = 100,
    IdStatusBar,
    IdEdVorl = 200,
    IdEdOffl,
    IdEdGen,
    IdCbPages,
    IdEdLoop,
    IdEdCmd,
    IdEdHost,
    IdCbPassive,
    IdEdUser,
    IdEdPass,
    IdEdSite,
    IdCbMode,
    IdEdPort,
    IdCbMail,
    IdEdRout,
    IdCbRout,
    IdCbMsg,
    IdEdLevel,
    IdCbLog,
    IdRbVisible,
    IdRbHide,
    IdCbErr,
    IdList = 300,
    IdBtnOnOff,
    IdBtnClear,
    IdLab30 = 399,
    IdLabStat = 400,
    IdBtn3Stat, // the ids from here on are the buttons' tags + IdBtn3Stat
    IdBtn3Start,
    IdBtn3Stop,
    IdBtn3Pause,
    IdBtn3Cont,
    IdBtn3Inst,
    IdBtn3Del,
};

constexpr UINT kSocketMessage = WM_APP + 1;
constexpr int kPageParameter = 0;
constexpr int kPageMonitor = 1;
constexpr int kPageManagement = 2;

std::wstring Wide(const std::string& latin1) {
    const std::u16string text = FromLatin1(latin1);
    return {text.begin(), text.end()};
}

std::string Narrow(const std::wstring& text) {
    return ToLatin1(std::u16string(text.begin(), text.end()));
}

std::wstring TextOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct Control {
    HWND Handle = nullptr;
    int Page = -1; // -1: on no page
};

class MainWindow {
public:
    explicit MainWindow(std::string programDir) : programDir_(std::move(programDir)) {}
    bool Create(HINSTANCE instance, int show);
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    HWND Add(int page, const wchar_t* cls, const std::string& text, DWORD style, int id, int x, int y, int w,
             int h);
    HWND Label(int page, const std::string& text, int x, int y, int w);
    HWND Edit(int page, int id, int x, int y, int w, DWORD extra = 0);
    HWND Check(int page, int id, const std::string& text, int x, int y, int w, DWORD kind = BS_AUTOCHECKBOX);
    HWND History(int page, int id, int x, int y, int w);
    void Group(int page, const std::string& text, int x, int y, int w, int h);
    void BuildParameterPage();
    void BuildMonitorPage();
    void BuildManagementPage();
    void ServiceFinish(const ServiceOutcome& outcome);
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void SetChecked(int id, bool on) {
        SendMessageW(Item(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    std::wstring Text(int id) const { return TextOf(Item(id)); }
    void SetText(int id, const std::string& latin1) { SetWindowTextW(Item(id), Wide(latin1).c_str()); }

    void ShowPage(int page);
    void PageChanging(int leaving);
    void Load();
    ManagerSettings SettingsFromControls() const;
    void SaveSettings();
    void LoopChanged();
    void Command(int id, int code);
    void CloseQuery();

    void MonitorOnOff();
    void MonitorAccept();
    void MonitorRead(SOCKET socket);
    void AppendLine(const std::string& line);

    int ShowBox(const Box& box) const;

    std::string programDir_;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    std::vector<Control> controls_;
    ManagerSettings loaded_;
    bool loading_ = false;
    bool settingsChanged_ = false;
    bool windowModeChanged_ = false;
    int currentPage_ = kPageMonitor;
    SOCKET listener_ = INVALID_SOCKET;
    std::map<SOCKET, std::string> pending_;
};

MainWindow* theWindow = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (theWindow)
        return theWindow->Handle(window, message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MainWindow::Add(int page, const wchar_t* cls, const std::string& text, DWORD style, int id, int x, int y,
                     int w, int h) {
    const std::wstring name = cls;
    const DWORD exStyle =
        (name == WC_EDITW || name == WC_COMBOBOXW || name == WC_LISTBOXW) ? WS_EX_CLIENTEDGE : 0;
    HWND control = CreateWindowExW(exStyle, cls, Wide(text).c_str(), WS_CHILD | style, x, y, w, h, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    controls_.push_back({control, page});
    return control;
}

HWND MainWindow::Label(int page, const std::string& text, int x, int y, int w) {
    return Add(page, WC_STATICW, text, SS_LEFTNOWORDWRAP, -1, x, y + 3, w, 16);
}

HWND MainWindow::Edit(int page, int id, int x, int y, int w, DWORD extra) {
    return Add(page, WC_EDITW, "", WS_TABSTOP | ES_AUTOHSCROLL | extra, id, x, y, w, 21);
}

HWND MainWindow::Check(int page, int id, const std::string& text, int x, int y, int w, DWORD kind) {
    return Add(page, WC_BUTTONW, text, WS_TABSTOP | kind, id, x, y, w, 20);
}

HWND MainWindow::History(int page, int id, int x, int y, int w) {
    return Add(page, WC_COMBOBOXW, "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, id, x, y, w,
               160);
}

void MainWindow::Group(int page, const std::string& text, int x, int y, int w, int h) {
    Add(page, WC_BUTTONW, text, BS_GROUPBOX, -1, x, y, w, h);
}

const char* LabelOf(SettingsField field) {
    for (const SettingsFieldInfo& info : SettingsFields())
        if (info.Field == field)
            return info.Label;
    return "";
}

void MainWindow::BuildParameterPage() {
    const int p = kPageParameter;
    Group(p, "lokale Einstellungen", 12, 34, 468, 160);
    Label(p, LabelOf(SettingsField::HTMLTemplate), 22, 52, 150);
    Edit(p, IdEdVorl, 200, 52, 270);
    Label(p, LabelOf(SettingsField::OfflTemplate), 22, 76, 150);
    Edit(p, IdEdOffl, 200, 76, 270);
    Label(p, LabelOf(SettingsField::TempSite), 22, 100, 175);
    Edit(p, IdEdGen, 200, 100, 270);
    Check(p, IdCbPages, "weitere Seiten mit IP-Adr. aktualisieren", 22, 124, 300);
    Label(p, "IP-Adresse  prüfen alle:"_l1, 22, 146, 150);
    Edit(p, IdEdLoop, 200, 146, 60);
    Label(p, "Min:Sec", 267, 146, 60);
    Label(p, LabelOf(SettingsField::OnPublish), 22, 168, 150);
    Edit(p, IdEdCmd, 200, 168, 270);

    Group(p, "FTP-Einstellungen", 12, 198, 468, 148);
    Label(p, LabelOf(SettingsField::FTPHost), 22, 216, 120);
    History(p, IdEdHost, 145, 216, 190);
    Check(p, IdCbPassive, "Passivmodus", 345, 216, 125);
    Label(p, LabelOf(SettingsField::FTPUser), 22, 240, 120);
    History(p, IdEdUser, 145, 240, 190);
    Check(p, IdCbMail, "e-Mail nach FTP-UpLoad versenden", 345, 240, 130, BS_AUTOCHECKBOX | BS_MULTILINE);
    Label(p, LabelOf(SettingsField::FTPPass), 22, 264, 120);
    HWND pass = Edit(p, IdEdPass, 145, 264, 190, ES_PASSWORD);
    SendMessageW(pass, EM_SETPASSWORDCHAR, L'#', 0);
    Label(p, LabelOf(SettingsField::FTPSite), 22, 288, 175);
    History(p, IdEdSite, 200, 288, 270);
    Label(p, "Verbindung:", 22, 314, 120);
    HWND mode =
        Add(p, WC_COMBOBOXW, "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, IdCbMode, 145, 314, 190, 160);
    for (const ConnectionMode m : kConnectionModes)
        if (OfferedOnThisSystem(m)) {
            const LRESULT index = SendMessageW(mode, CB_ADDSTRING, 0,
                                               reinterpret_cast<LPARAM>(Wide(ConnectionModeName(m)).c_str()));
            SendMessageW(mode, CB_SETITEMDATA, static_cast<WPARAM>(index), ConnectionModeNumber(m));
        }
    Label(p, "Port:", 345, 314, 40);
    Edit(p, IdEdPort, 390, 314, 60, ES_NUMBER);

    Group(p, "Router-Betrieb", 12, 350, 468, 68);
    Label(p, LabelOf(SettingsField::IPSource), 22, 368, 120);
    History(p, IdEdRout, 145, 368, 325);
    Check(p, IdCbRout, "Router-Betriebsart verwenden", 22, 392, 200);
    Label(p, "(stellt die aktuelle IP-Adresse bereit)", 225, 392, 245);

    Group(p, "Arbeitsweise", 12, 422, 468, 118);
    Group(p, "Service-Meldungen", 20, 438, 225, 96);
    Check(p, IdCbMsg, "Statusmeldungen anzeigen", 28, 454, 210);
    Label(p, "Meldungs-Niveau:", 28, 478, 110);
    Edit(p, IdEdLevel, 140, 478, 40, ES_NUMBER);
    Label(p, "0 - niedrig   4 - hoch", 28, 498, 210);
    Check(p, IdCbLog, "Log-File schreiben", 28, 512, 210);
    Group(p, "Manager-Fenster", 250, 438, 222, 96);
    Check(p, IdRbVisible, "sichtbar", 258, 454, 200, BS_AUTORADIOBUTTON | WS_GROUP);
    Check(p, IdRbHide, "versteckt (als Taskbar-Icon)", 258, 476, 200, BS_AUTORADIOBUTTON);
    Check(p, IdCbErr, "bei Fehlern melden", 258, 498, 200);
}

void MainWindow::BuildMonitorPage() {
    const int p = kPageMonitor;
    Group(p, "Service-Meldungen", 12, 34, 468, 500);
    Add(p, WC_LISTBOXW, "",
        WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS,
        IdList, 22, 52, 448, 440);
    Add(p, WC_BUTTONW, "Monitor &ein", WS_TABSTOP | BS_PUSHBUTTON, IdBtnOnOff, 22, 500, 120, 26);
    Add(p, WC_BUTTONW, "Liste &leeren", WS_TABSTOP | BS_PUSHBUTTON, IdBtnClear, 150, 500, 120, 26);
}

void MainWindow::BuildManagementPage() {
    const int p = kPageManagement;
    HWND note = Add(p, WC_STATICW, "Für diese Aktionen müssen Sie Administrator-Rechte haben!"_l1, SS_CENTER,
                    -1, 12, 40, 468, 18);
    LOGFONTW bold{};
    GetObjectW(font_, sizeof bold, &bold);
    bold.lfWeight = FW_BOLD;
    SendMessageW(note, WM_SETFONT, reinterpret_cast<WPARAM>(CreateFontIndirectW(&bold)), TRUE);
    Group(p, "Dienst-Status", 12, 66, 468, 56);
    Label(p, "Status:", 22, 88, 50);
    Add(p, WC_STATICW, "", SS_LEFTNOWORDWRAP | SS_SUNKEN, IdLabStat, 75, 88, 250, 20);
    Add(p, WC_BUTTONW, "&Aktualisieren", WS_TABSTOP | BS_PUSHBUTTON, IdBtn3Stat, 340, 84, 130, 26);
    Group(p, "Dienst-Steuerung", 12, 128, 468, 90);
    Add(p, WC_BUTTONW, "Dienst &starten", WS_TABSTOP | BS_PUSHBUTTON, IdBtn3Start, 30, 148, 200, 26);
    Add(p, WC_BUTTONW, "Dienst be&enden", WS_TABSTOP | BS_PUSHBUTTON, IdBtn3Stop, 260, 148, 200, 26);
    Add(p, WC_BUTTONW, "Dienst an&halten", WS_TABSTOP | BS_PUSHBUTTON, IdBtn3Pause, 30, 182, 200, 26);
    Add(p, WC_BUTTONW, "Dienst &fortsetzen", WS_TABSTOP | BS_PUSHBUTTON, IdBtn3Cont, 260, 182, 200, 26);
    Group(p, "Dienst-Installation", 12, 224, 468, 56);
    Add(p, WC_BUTTONW, "&Installieren", WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED, IdBtn3Inst, 30, 244, 200,
        26);
    Add(p, WC_BUTTONW, "&Deinstallieren", WS_TABSTOP | BS_PUSHBUTTON, IdBtn3Del, 260, 244, 200, 26);
}

void MainWindow::ServiceFinish(const ServiceOutcome& outcome) {
    if (outcome.InstallEnabled >= 0)
        EnableWindow(Item(IdBtn3Inst), outcome.InstallEnabled == 1);
    if (outcome.Buttons != ServiceButtons::Keep) {
        const ServiceButtonStates states = ButtonStates(outcome.Buttons);
        EnableWindow(Item(IdBtn3Start), states.Start);
        EnableWindow(Item(IdBtn3Stop), states.Stop);
        EnableWindow(Item(IdBtn3Pause), states.Pause);
        EnableWindow(Item(IdBtn3Cont), states.Continue);
    }
    if (!outcome.Information.empty())
        ShowBox({BoxKind::Information, outcome.Information});
    SetText(IdLabStat, ServiceStatusText(outcome.Status));
    if (!outcome.Error.empty())
        ShowBox({BoxKind::ApplicationError, outcome.Error});
}

bool MainWindow::Create(HINSTANCE instance, int show) {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    cls.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    cls.lpszClassName = L"TFrmPelo";
    RegisterClassExW(&cls);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    font_ = CreateFontIndirectW(&metrics.lfMessageFont);

    window_ = CreateWindowExW(0, L"TFrmPelo", Wide(WindowCaption()).c_str(),
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                              CW_USEDEFAULT, 500, 600, nullptr, nullptr, instance, nullptr);
    if (!window_)
        return false;
    RECT client{};
    GetClientRect(window_, &client);
    HWND tabs = Add(-1, WC_TABCONTROLW, "", WS_CLIPSIBLINGS | WS_VISIBLE, IdPageSet, 4, 4, client.right - 8,
                    client.bottom - 30);
    const char* captions[] = {"Parameter", "Service-Monitor", "Management", "IP-Adressen"};
    for (int i = 0; i < 4; ++i) {
        std::wstring caption = Wide(captions[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
    Add(-1, STATUSCLASSNAMEW, "", WS_VISIBLE | SBARS_SIZEGRIP, IdStatusBar, 0, 0, 0, 0);
    BuildParameterPage();
    BuildMonitorPage();
    BuildManagementPage();
    Load();
    ShowWindow(window_, show);
    if (Checked(IdCbMsg))
        MonitorOnOff();
    else
        AppendLine(MonitorOffNote());
    return true;
}

void MainWindow::ShowPage(int page) {
    currentPage_ = page;
    SendMessageW(Item(IdPageSet), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    for (const Control& control : controls_)
        if (control.Page >= 0)
            ShowWindow(control.Handle, control.Page == page ? SW_SHOW : SW_HIDE);
    for (const Control& control : controls_)
        if (control.Page == page)
            SetWindowPos(control.Handle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void MainWindow::Load() {
    loading_ = true;
    loaded_ = LoadManagerSettings(programDir_);
    const ManagerSettings& s = loaded_;
    SetWindowPos(window_, nullptr, s.Left, s.Top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetText(IdEdVorl, s.HTMLTemplate);
    SetText(IdEdOffl, s.OfflTemplate);
    SetText(IdEdGen, s.TempSite);
    SetText(IdEdCmd, s.OnPublish);
    const std::pair<int, const std::vector<std::string>*> histories[] = {{IdEdHost, &s.HostHistory},
                                                                         {IdEdUser, &s.UserHistory},
                                                                         {IdEdSite, &s.SiteHistory},
                                                                         {IdEdRout, &s.SourceHistory}};
    for (const auto& [id, entries] : histories)
        for (const std::string& entry : *entries)
            if (!entry.empty())
                SendMessageW(Item(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(entry).c_str()));
    SetText(IdEdHost, s.FTPHost);
    SetText(IdEdUser, s.FTPUser);
    SetText(IdEdPass, s.FTPPass);
    SetText(IdEdSite, s.FTPSite);
    SetText(IdEdRout, s.IPSource);
    SetChecked(IdCbPages, s.AddPages);
    SetChecked(IdCbPassive, s.FTPPassive);
    HWND mode = Item(IdCbMode);
    const LRESULT count = SendMessageW(mode, CB_GETCOUNT, 0, 0);
    SendMessageW(mode, CB_SETCURSEL, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        if (SendMessageW(mode, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) == s.FTPMode)
            SendMessageW(mode, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    SetText(IdEdPort, std::to_string(s.FTPPort));
    SetChecked(IdCbMail, s.eMail);
    SetChecked(IdCbRout, s.Router);
    EnableWindow(Item(IdEdRout), s.Router);
    SetChecked(IdCbMsg, s.Messages);
    SetText(IdEdLevel, std::to_string(s.MsgLevel));
    SetChecked(IdCbLog, s.LogFile);
    SetText(IdEdLoop, IntervalText(s.Intervall));
    SetChecked(IdCbErr, s.ShowErr);
    SetChecked(s.Hidden ? IdRbHide : IdRbVisible, true);
    EnableWindow(Item(IdCbErr), s.Hidden);
    ShowPage(s.FTPHost.empty() ? kPageParameter : kPageMonitor);
    settingsChanged_ = false;
    windowModeChanged_ = false;
    loading_ = false;
}

ManagerSettings MainWindow::SettingsFromControls() const {
    // What this window does not show is kept as the file had it.
    ManagerSettings s = loaded_;
    s.HTMLTemplate = Narrow(Text(IdEdVorl));
    s.OfflTemplate = Narrow(Text(IdEdOffl));
    s.TempSite = Narrow(Text(IdEdGen));
    s.OnPublish = Narrow(Text(IdEdCmd));
    s.FTPHost = Narrow(Text(IdEdHost));
    s.FTPUser = Narrow(Text(IdEdUser));
    s.FTPPass = Narrow(Text(IdEdPass));
    s.FTPSite = Narrow(Text(IdEdSite));
    s.IPSource = Narrow(Text(IdEdRout));
    s.AddPages = Checked(IdCbPages);
    s.FTPPassive = Checked(IdCbPassive);
    HWND mode = Item(IdCbMode);
    s.FTPMode = static_cast<int>(
        SendMessageW(mode, CB_GETITEMDATA, static_cast<WPARAM>(SendMessageW(mode, CB_GETCURSEL, 0, 0)), 0));
    s.FTPPort = _wtoi(Text(IdEdPort).c_str());
    s.eMail = Checked(IdCbMail);
    s.Router = Checked(IdCbRout);
    s.Messages = Checked(IdCbMsg);
    s.MsgLevel = _wtoi(Text(IdEdLevel).c_str());
    s.LogFile = Checked(IdCbLog);
    s.Intervall = IntervalFromText(Narrow(Text(IdEdLoop))).Units;
    s.ShowErr = Checked(IdCbErr);
    s.Hidden = Checked(IdRbHide);
    RECT frame{};
    GetWindowRect(window_, &frame);
    s.Left = frame.left;
    s.Top = frame.top;
    const std::pair<int, std::vector<std::string>*> histories[] = {{IdEdHost, &s.HostHistory},
                                                                   {IdEdUser, &s.UserHistory},
                                                                   {IdEdSite, &s.SiteHistory},
                                                                   {IdEdRout, &s.SourceHistory}};
    for (const auto& [id, entries] : histories) {
        entries->clear();
        const LRESULT count = SendMessageW(Item(id), CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring entry(
                static_cast<std::size_t>(SendMessageW(Item(id), CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0)) +
                    1,
                L'\0');
            entry.resize(static_cast<std::size_t>(SendMessageW(Item(id), CB_GETLBTEXT, static_cast<WPARAM>(i),
                                                               reinterpret_cast<LPARAM>(entry.data()))));
            const std::u16string text(entry.begin(), entry.end());
            if (IsLatin1(text)) // the field's warning covers the others
                entries->push_back(ToLatin1(text));
        }
    }
    return s;
}

int MainWindow::ShowBox(const Box& box) const {
    UINT style = MB_OK;
    std::string caption = "Pelorix-Manager";
    switch (box.Kind) {
    case BoxKind::Information:
        style |= MB_ICONINFORMATION;
        caption = "Information";
        break;
    case BoxKind::Warning:
        style |= MB_ICONWARNING;
        caption = "Warnung";
        break;
    case BoxKind::Error:
        style |= MB_ICONERROR;
        caption = "Fehler";
        break;
    case BoxKind::Confirmation:
        style = MB_YESNO | MB_ICONQUESTION;
        caption = "Bestätigung"_l1;
        break;
    case BoxKind::ApplicationError:
        style |= MB_ICONSTOP;
        break;
    }
    return MessageBoxW(window_, Wide(box.Text).c_str(), Wide(caption).c_str(), style);
}

void MainWindow::SaveSettings() {
    ManagerSettings settings = SettingsFromControls();
    const std::map<int, SettingsField> ids = {
        {IdEdVorl, SettingsField::HTMLTemplate}, {IdEdOffl, SettingsField::OfflTemplate},
        {IdEdGen, SettingsField::TempSite},      {IdEdHost, SettingsField::FTPHost},
        {IdEdUser, SettingsField::FTPUser},      {IdEdPass, SettingsField::FTPPass},
        {IdEdSite, SettingsField::FTPSite},      {IdEdRout, SettingsField::IPSource},
        {IdEdCmd, SettingsField::OnPublish}};
    std::vector<FieldText> texts;
    for (const SettingsFieldInfo& info : SettingsFields())
        for (const auto& [id, field] : ids)
            if (field == info.Field) {
                const std::wstring text = Text(id);
                texts.push_back(
                    {FieldCaption(info.Label), std::u16string(text.begin(), text.end()), info.Value});
            }
    const std::vector<std::string> refused =
        KeepStoredForNotLatin1(settings, texts, [this] { return LoadManagerSettings(programDir_); });
    if (!refused.empty())
        ShowBox({BoxKind::Warning, NotLatin1Text(refused)});
    std::string errorText;
    if (!SaveManagerSettings(programDir_, settings, errorText)) {
        ShowBox({BoxKind::Error, SaveFailedMessage(errorText)});
        return;
    }
    loaded_ = settings;
    // A refused field still differs from the file.
    settingsChanged_ = !refused.empty();
    ShowBox({BoxKind::Information, RestartNotice()});
}

void MainWindow::LoopChanged() {
    const Interval interval = IntervalFromText(Narrow(Text(IdEdLoop)));
    // Setting the same text again would count as a change.
    if (Wide(interval.Text) != Text(IdEdLoop))
        SetText(IdEdLoop, interval.Text);
}

void MainWindow::PageChanging(int leaving) {
    if (leaving != kPageParameter)
        return;
    LoopChanged();
    if (settingsChanged_)
        SaveSettings();
}

void MainWindow::CloseQuery() {
    LoopChanged();
    if (settingsChanged_)
        SaveSettings();
    std::string ignored;
    SaveWindowKeys(programDir_, SettingsFromControls(), windowModeChanged_, ignored);
    windowModeChanged_ = false;
}

void MainWindow::Command(int id, int code) {
    if (loading_)
        return;
    switch (id) {
    case IdRbVisible:
    case IdRbHide:
    case IdCbErr:
        windowModeChanged_ = true;
        if (id != IdCbErr)
            EnableWindow(Item(IdCbErr), id == IdRbHide);
        return;
    case IdCbRout:
        settingsChanged_ = true;
        if (Checked(IdCbRout) && ShowBox({BoxKind::Confirmation, RouterQuestion()}) != IDYES)
            SetChecked(IdCbRout, false);
        EnableWindow(Item(IdEdRout), Checked(IdCbRout));
        return;
    case IdBtnOnOff:
        MonitorOnOff();
        return;
    case IdBtnClear:
        SendMessageW(Item(IdList), LB_RESETCONTENT, 0, 0);
        return;
    case IdBtn3Inst:
        ServiceFinish(InstallServiceAction(programDir_));
        return;
    case IdBtn3Stat:
    case IdBtn3Start:
    case IdBtn3Stop:
    case IdBtn3Pause:
    case IdBtn3Cont:
    case IdBtn3Del:
        // Enter alone must not remove the service.
        ServiceFinish(ServiceAction(id - IdBtn3Stat, [this](const std::string& question) {
            return MessageBoxW(window_, Wide(question).c_str(), Wide("Bestätigung"_l1).c_str(),
                               MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        }));
        return;
    case IdEdLoop:
        if (code == EN_KILLFOCUS)
            LoopChanged();
        break;
    default:
        break;
    }
    if (code == EN_CHANGE || code == CBN_EDITCHANGE || code == CBN_SELCHANGE || code == BN_CLICKED)
        settingsChanged_ = true;
}

// --- Monitor ----------------------------------------------------------------------------------

void MainWindow::AppendLine(const std::string& line) {
    HWND list = Item(IdList);
    if (SendMessageW(list, LB_GETCOUNT, 0, 0) > kMaxMonitorLines)
        for (int i = 0; i < kDropMonitorLines; ++i)
            SendMessageW(list, LB_DELETESTRING, 0, 0);
    const LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
    SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void MainWindow::MonitorOnOff() {
    HWND button = Item(IdBtnOnOff);
    if (listener_ == INVALID_SOCKET) {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kMonitorPort);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (listener_ == INVALID_SOCKET ||
            bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, SOMAXCONN) != 0) {
            if (listener_ != INVALID_SOCKET)
                closesocket(listener_);
            listener_ = INVALID_SOCKET;
            ShowBox({BoxKind::ApplicationError, "Socket-Fehler auf Port " + std::to_string(kMonitorPort)});
            return;
        }
        WSAAsyncSelect(listener_, window_, kSocketMessage, FD_ACCEPT);
        SetWindowTextW(button, L"Monitor &aus");
        AppendLine(MonitorOnNote());
        return;
    }
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    for (const auto& entry : pending_)
        closesocket(entry.first);
    pending_.clear();
    SetWindowTextW(button, L"Monitor &ein");
    AppendLine(MonitorOffNote());
}

void MainWindow::MonitorAccept() {
    sockaddr_in peer{};
    int size = sizeof peer;
    const SOCKET socket = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &size);
    if (socket == INVALID_SOCKET)
        return;
    // Only the local host may deliver lines.
    if (peer.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
        closesocket(socket);
        return;
    }
    pending_[socket];
    WSAAsyncSelect(socket, window_, kSocketMessage, FD_READ | FD_CLOSE);
}

void MainWindow::MonitorRead(SOCKET socket) {
    auto found = pending_.find(socket);
    if (found == pending_.end())
        return;
    char buffer[4096];
    const int got = recv(socket, buffer, sizeof buffer, 0);
    if (got <= 0) {
        closesocket(socket);
        pending_.erase(found);
        return;
    }
    std::string& bytes = found->second;
    bytes.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end = bytes.find('\n'); end != std::string::npos; end = bytes.find('\n')) {
        std::string line = bytes.substr(0, end);
        bytes.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        AppendLine(line);
    }
    if (bytes.size() > 64 * 1024) {
        closesocket(socket);
        pending_.erase(found);
    }
}

LRESULT MainWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IdPageSet && header->code == TCN_SELCHANGE) {
            const int page = static_cast<int>(SendMessageW(Item(IdPageSet), TCM_GETCURSEL, 0, 0));
            PageChanging(currentPage_);
            ShowPage(page);
            if (page == kPageManagement)
                ServiceFinish(ServiceAction(5, [](const std::string&) { return false; }));
        }
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        // Labels on a page draw on the page's colour instead of a grey box of their own.
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IdLab30)
            SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID != IdList || item->itemID == static_cast<UINT>(-1))
            break;
        std::wstring text(
            static_cast<std::size_t>(SendMessageW(item->hwndItem, LB_GETTEXTLEN, item->itemID, 0)) + 1,
            L'\0');
        text.resize(static_cast<std::size_t>(
            SendMessageW(item->hwndItem, LB_GETTEXT, item->itemID, reinterpret_cast<LPARAM>(text.data()))));
        const std::string line = Narrow(text);
        const std::uint32_t rgb = line.rfind("***", 0) == 0 ? kNoteBlue : LineColour(line);
        const bool selected = (item->itemState & ODS_SELECTED) != 0;
        FillRect(item->hDC, &item->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        SetBkMode(item->hDC, TRANSPARENT);
        SetTextColor(item->hDC, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                         : RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
        RECT area = item->rcItem;
        area.left += 2;
        DrawTextW(item->hDC, text.c_str(), static_cast<int>(text.size()), &area,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        return TRUE;
    }
    case kSocketMessage: {
        const auto socket = static_cast<SOCKET>(wParam);
        const int event = WSAGETSELECTEVENT(lParam);
        if (event == FD_ACCEPT)
            MonitorAccept();
        else if (event == FD_READ || event == FD_CLOSE)
            MonitorRead(socket);
        return 0;
    }
    case WM_CLOSE:
        CloseQuery();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WSADATA wsa{};
    WSAStartup(MAKEWORD(2, 2), &wsa);
    MainWindow window(ProgramDir());
    theWindow = &window;
    if (!window.Create(instance, show))
        return 1;
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(GetActiveWindow(), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    WSACleanup();
    return static_cast<int>(message.wParam);
}
