// Works the real PelorixMgr.exe from outside, as a user would: finds its window and controls,
// types into fields, clicks tabs and buttons, answers its boxes and reads its monitor list.
// Prints what it saw; exit code 0 when everything was as expected.
//
//     MgrDriver.exe

// winsock2.h before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The manager's control ids.
constexpr int IdPageSet = 100;
constexpr int IdEdHost = 206;
constexpr int IdEdUser = 208;
constexpr int IdEdPass = 209;
constexpr int IdList = 300;
constexpr int IdBtnOnOff = 301;
constexpr int IdLabStat = 400;
constexpr int IdBtn3Stat = 401;
constexpr int IdBtn3Start = 402;
constexpr int IdBtn3Stop = 403;
constexpr int IdBtn3Inst = 406;
constexpr int IdBtn3Del = 407;

int failures = 0;

void Expect(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FEHLER", what);
    if (!ok)
        ++failures;
}

std::wstring TextOf(HWND window) {
    wchar_t text[2048] = {};
    SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string Utf8(const std::wstring& text) {
    char out[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

HWND WaitFor(const wchar_t* cls, const wchar_t* title, int ms) {
    for (int waited = 0; waited < ms; waited += 100) {
        if (HWND window = FindWindowW(cls, title))
            return window;
        Sleep(100);
    }
    return nullptr;
}

// The text of the longest static control of a box.
BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    auto* text = reinterpret_cast<std::wstring*>(param);
    if (lstrcmpiW(cls, L"Static") == 0) {
        const std::wstring t = TextOf(child);
        if (t.size() > text->size())
            *text = t;
    }
    return TRUE;
}

// Waits for a message box, returns its text and presses the button.
std::wstring AnswerBox(int button) {
    HWND box = WaitFor(L"#32770", nullptr, 10000);
    if (!box)
        return L"(kein Fenster)";
    std::wstring text;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
    SendMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
    for (int waited = 0; waited < 5000 && IsWindow(box); waited += 50)
        Sleep(50);
    return text;
}

void ClickTab(HWND main, int index) {
    HWND tabs = GetDlgItem(main, IdPageSet);
    // Tab captions lie side by side at the top; a click picks one as a user's would.
    const int xs[] = {25, 110, 210, 290};
    const int x = xs[index & 3];
    const LPARAM at = MAKELPARAM(x, 10);
    PostMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(tabs, WM_LBUTTONUP, 0, at);
}

bool SendStatusLine(const char* line) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(60123);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    send(s, line, static_cast<int>(std::strlen(line)), 0) > 0;
    closesocket(s);
    return ok;
}

std::wstring LastListLine(HWND list) {
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count <= 0)
        return L"";
    wchar_t text[2048] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(count - 1), reinterpret_cast<LPARAM>(text));
    return text;
}

} // namespace

int main(int argc, char** argv) {
    // MgrDriver.exe /TAB n: only clicks page n of the running manager (for screenshots).
    if (argc == 3 && std::strcmp(argv[1], "/TAB") == 0) {
        HWND main = WaitFor(L"TFrmPelo", nullptr, 30000);
        if (!main)
            return 1;
        ClickTab(main, std::atoi(argv[2]));
        return 0;
    }
    WSADATA wsa{};
    WSAStartup(MAKEWORD(2, 2), &wsa);
    HWND main = WaitFor(L"TFrmPelo", nullptr, 30000);
    Expect(main != nullptr, "Fenster des Managers gefunden");
    if (!main)
        return 1;
    // The window exists before its settings are loaded; it is shown after that.
    for (int waited = 0; waited < 10000 && !IsWindowVisible(main); waited += 100)
        Sleep(100);
    std::printf("Titel: %s\n", Utf8(TextOf(main)).c_str());
    Expect(IsWindowVisible(GetDlgItem(main, IdEdHost)) != 0, "ohne FTP-Host startet die Seite Parameter");

    SendMessageW(GetDlgItem(main, IdEdHost), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"127.0.0.1"));
    SendMessageW(GetDlgItem(main, IdEdUser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"J\u00f6rg-1"));
    SendMessageW(GetDlgItem(main, IdEdPass), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"pw\u20acx"));
    ClickTab(main, 1);
    const std::wstring warning = AnswerBox(IDOK);
    std::printf("Box: %s\n", Utf8(warning).c_str());
    Expect(warning.find(L"\"FTP-Passwort\"") != std::wstring::npos &&
               warning.find(L"Latin-1-Zeichen (westeurop\u00e4ische Buchstaben)") != std::wstring::npos,
           "\"pw\u20acx\" mit der Latin-1-Warnung abgelehnt");
    const std::wstring notice = AnswerBox(IDOK);
    Expect(notice == L"\u00c4nderungen werden erst nach Neustart des Dienstes wirksam!",
           "Hinweis nach dem Speichern");

    ClickTab(main, 0);
    Sleep(300);
    SendMessageW(GetDlgItem(main, IdEdPass), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"J\u00f6rg-1"));
    ClickTab(main, 1);
    Expect(AnswerBox(IDOK).find(L"Neustart") != std::wstring::npos, "\"J\u00f6rg-1\" gespeichert");

    HWND list = GetDlgItem(main, IdList);
    // The page changes once the save's box is closed.
    for (int waited = 0; waited < 5000 && !IsWindowVisible(list); waited += 100)
        Sleep(100);
    Expect(IsWindowVisible(list) != 0, "Seite Service-Monitor sichtbar");
    SendMessageW(GetDlgItem(main, IdBtnOnOff), BM_CLICK, 0, 0);
    Expect(LastListLine(list) == L"*** Meldungsempfang eingeschaltet", "Monitor eingeschaltet");
    Expect(SendStatusLine("[12:00:00] + Testzeile \xe4\r\n"), "Statuszeile gesendet");
    std::wstring line;
    for (int waited = 0; waited < 5000 && line != L"[12:00:00] + Testzeile \u00e4"; waited += 100) {
        Sleep(100);
        line = LastListLine(list);
    }
    Expect(line == L"[12:00:00] + Testzeile \u00e4", "Statuszeile im Monitor");

    // Management: install, start, query, stop and remove the service through the real service
    // control manager. Buttons that open a box are posted, the others sent.
    ClickTab(main, 2);
    HWND status = GetDlgItem(main, IdLabStat);
    for (int waited = 0; waited < 5000 && TextOf(status).empty(); waited += 100)
        Sleep(100);
    std::printf("Status: %s\n", Utf8(TextOf(status)).c_str());
    Expect(TextOf(status).find(L"kein Zugriff") != std::wstring::npos, "Dienst noch nicht installiert");
    Expect(IsWindowEnabled(GetDlgItem(main, IdBtn3Inst)) != 0, "Installieren freigegeben");
    PostMessageW(GetDlgItem(main, IdBtn3Inst), BM_CLICK, 0, 0);
    const std::wstring installed = AnswerBox(IDOK);
    Expect(installed == L"NT-Dienst \"Pelorix-Publisher\" wurde erfolgreich im System installiert!",
           "Dienst installiert");
    SendMessageW(GetDlgItem(main, IdBtn3Start), BM_CLICK, 0, 0);
    Expect(TextOf(status).find(L": gestartet") != std::wstring::npos, "Dienst gestartet");
    std::wstring state;
    for (int waited = 0; waited < 10000 && state.find(L"aktiviert") == std::wstring::npos; waited += 250) {
        Sleep(250);
        SendMessageW(GetDlgItem(main, IdBtn3Stat), BM_CLICK, 0, 0);
        state = TextOf(status);
    }
    Expect(state.find(L": aktiviert") != std::wstring::npos, "Dienst l\u00e4uft");
    SendMessageW(GetDlgItem(main, IdBtn3Stop), BM_CLICK, 0, 0);
    Expect(TextOf(status).find(L": beendet") != std::wstring::npos, "Dienst beendet");
    PostMessageW(GetDlgItem(main, IdBtn3Del), BM_CLICK, 0, 0);
    Expect(AnswerBox(IDYES).find(L"wirklich l\u00f6schen") != std::wstring::npos,
           "R\u00fcckfrage vor dem L\u00f6schen");
    for (int waited = 0; waited < 5000 && TextOf(status).find(L"deinstalliert") == std::wstring::npos;
         waited += 100)
        Sleep(100);
    Expect(TextOf(status).find(L": deinstalliert") != std::wstring::npos, "Dienst entfernt");

    PostMessageW(main, WM_CLOSE, 0, 0);
    for (int waited = 0; waited < 10000 && IsWindow(main); waited += 100)
        Sleep(100);
    Expect(!IsWindow(main), "Manager beendet");
    WSACleanup();
    return failures == 0 ? 0 : 1;
}
