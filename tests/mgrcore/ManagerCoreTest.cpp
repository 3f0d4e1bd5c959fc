// What every view of the manager decides alike: the interval field, the Latin-1 check of the
// fields and its warning, the monitor's line colours, the tray's icon steps and the boxes of a
// manual upload.

#include "base/Latin1.h"
#include "mgrcore/FieldCheck.h"
#include "mgrcore/Interval.h"
#include "mgrcore/MgrTexts.h"
#include "mgrcore/MonitorLine.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(ManagerCoreTest, IntervalTextRoundsAndLimits) {
    const struct {
        const char* typed;
        const char* shown;
        std::int32_t units;
    } cases[] = {{"7", "  7:00", 42},           {"0:04", "  0:10", 1},  {"1:57", "  2:00", 12},
                 {"2:34", "  2:30", 15},        {"x:20", " 10:20", 62}, {"", " 10:00", 60},
                 {" 3:5", "  3:10", 19},        {"0:00", "  0:10", 1},  {"5:x", "  5:00", 30},
                 {"99999999999", " 10:00", 60}, {"-0:00", "  0:10", 1}};
    for (const auto& c : cases) {
        const Interval interval = IntervalFromText(c.typed);
        EXPECT_EQ(interval.Text, c.shown) << c.typed;
        EXPECT_EQ(interval.Units, c.units) << c.typed;
    }
    EXPECT_EQ(IntervalText(30), "  5:00");
    EXPECT_EQ(IntervalText(62), " 10:20");
}

TEST(ManagerCoreTest, NotLatin1FieldKeepsTheStoredValueAndIsNamed) {
    ManagerSettings settings;
    settings.FTPPass = "pw?x";
    settings.FTPUser = "J\xF6rg-1";
    int loads = 0;
    const auto stored = [&loads] {
        ++loads;
        ManagerSettings s;
        s.FTPPass = "alt";
        s.FTPHost = "host.example";
        return s;
    };
    std::vector<FieldText> fields;
    for (const SettingsFieldInfo& info : SettingsFields()) {
        std::u16string text = FromLatin1(settings.*info.Value);
        if (info.Field == SettingsField::FTPPass)
            text = u"pw\u20acx";
        if (info.Field == SettingsField::FTPUser)
            text = u"J\u00f6rg-1";
        fields.push_back({FieldCaption(info.Label), text, info.Value});
    }
    const std::vector<std::string> refused = KeepStoredForNotLatin1(settings, fields, stored);
    ASSERT_EQ(refused, std::vector<std::string>{"FTP-Passwort"});
    EXPECT_EQ(settings.FTPPass, "alt");
    EXPECT_EQ(settings.FTPUser, "J\xF6rg-1");
    EXPECT_EQ(settings.FTPHost, ""); // only the refused field takes the stored value
    EXPECT_EQ(loads, 1);

    EXPECT_EQ(
        NotLatin1Text(refused),
        "Das Feld \"FTP-Passwort\" enthält Zeichen, die nicht gespeichert werden können; es wird nicht "
        "gespeichert.\r\n\nGespeichert werden können nur Latin-1-Zeichen (westeuropäische Buchstaben)."_l1);
    EXPECT_EQ(NotLatin1Text({"FTP-Host", "FTP-Passwort"}).substr(0, 70),
              "Die Felder \"FTP-Host\", \"FTP-Passwort\" enthalten Zeichen, die nicht ges"_l1);
    EXPECT_EQ(ToLatin1(u"pw\u20acx\u00e4"), "pw?x\xE4");
    EXPECT_TRUE(IsLatin1(u"\u00ff"));
    EXPECT_FALSE(IsLatin1(u"\u0100"));
}

TEST(ManagerCoreTest, CaptionsAreTheLabelsWithoutColon) {
    EXPECT_EQ(FieldCaption("UpLoad-Seite: (inclusive Pfad)"), "UpLoad-Seite");
    EXPECT_EQ(FieldCaption("lokale Kopie der  Generatorseite:"), "lokale Kopie der Generatorseite");
    EXPECT_EQ(FieldCaption("HTTP-Seite http://"), "HTTP-Seite http://"); // no colon before a blank
}

TEST(ManagerCoreTest, MonitorLinesAreClassifiedByTheirMarker) {
    EXPECT_TRUE(IsInformationLine("[12:00:01] + Adresse 192.0.2.1"));
    EXPECT_EQ(LineColour("[12:00:01] + Adresse"), kLineBlack);
    EXPECT_EQ(LineColour("[12:00:01] - FTP-Fehler"), kLineRed);
    EXPECT_EQ(LineColour("[12:00:01]"), kLineRed); // too short for a marker
    EXPECT_EQ(LineColour(""), kLineRed);
}

TEST(ManagerCoreTest, TrayStepsFollowTheLines) {
    bool error = false;
    TrayStep step = TrayLineStep(true, false, true, error);
    EXPECT_TRUE(step.ChangeIcon && step.StartTimer && !step.ShowErrorBox);
    EXPECT_EQ(step.Icon, TrayIcon::Active);
    // More information lines while the timer runs change nothing.
    step = TrayLineStep(true, true, true, error);
    EXPECT_FALSE(step.ChangeIcon || step.StartTimer);
    // An error line in the green phase turns it red, and the tick leaves it red.
    step = TrayLineStep(false, true, false, error);
    EXPECT_TRUE(step.ChangeIcon && error && !step.ShowErrorBox);
    EXPECT_EQ(step.Icon, TrayIcon::Error);
    EXPECT_FALSE(TrayTickStep(error).ChangeIcon);
    EXPECT_TRUE(TrayLineStep(false, false, true, error).ShowErrorBox);
    // Only an information line after the timer resets the error.
    step = TrayLineStep(true, false, true, error);
    EXPECT_FALSE(error);
    step = TrayTickStep(error);
    EXPECT_TRUE(step.ChangeIcon);
    EXPECT_EQ(TrayIconName(step.Icon), std::string("PIC_SW"));
    EXPECT_EQ(TrayIconTip(TrayIcon::Error), "Pelorix (Fehler)");
    EXPECT_EQ(TrayErrorText("x"), "Pelorix\r\n\r\nx");
}

TEST(ManagerCoreTest, UploadOutcomesGiveTheirBoxes) {
    PageUploadResult upload;
    upload.Outcome = PageUploadOutcome::Uploaded;
    upload.StoredAs = "ip.htm";
    EXPECT_EQ(UploadBox(upload).Text, "FTP-Upload OK mit ip.htm");
    EXPECT_EQ(UploadBox(upload).Kind, BoxKind::Information);
    upload.Outcome = PageUploadOutcome::LoginFailed;
    EXPECT_EQ(UploadBox(upload).Text, "FTP-Login gescheitert");
    upload.Outcome = PageUploadOutcome::Error;
    upload.ErrorText = "Zeit";
    EXPECT_EQ(UploadBox(upload).Text, "FTP-Fehler: Zeit");
    upload.Outcome = PageUploadOutcome::NoFileName;
    EXPECT_EQ(UploadBox(upload).Kind, BoxKind::Error);
    EXPECT_EQ(UploadBox(upload).Text, "FTP-Upload gescheitert");
    EXPECT_EQ(QueryFailureText(AddressQueryOutcome::Refused), "ungültige Verbindungs-Parameter!"_l1);
}

} // namespace
} // namespace pelorix
