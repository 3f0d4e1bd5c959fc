// The address mail's composition: placeholders, authentication modes and the result texts.
// (The mail going out with each mode is tested with the worker's mail stage.)

#include "svc/MailCompose.h"
#include "../mail/MailTestPeers.h"
#include "base/Latin1.h"

#include <gtest/gtest.h>

#include <string>

namespace pelorix {
namespace {

// A clock whose minute moves on with every reading.
class TickingClock final : public IClock {
public:
    LocalTime Now() const override {
        LocalTime t = test::SampleTime();
        t.minute += reads_++;
        return t;
    }
    long long MonotonicMs() const override { return 0; }

private:
    mutable int reads_ = 0;
};

TEST(MailPlaceholders, SubjectReplacesOnlyTheAddress) {
    EXPECT_EQ(FillMailSubject("dynamische IP-Adresse ist %IP%", "10.1.2.3"),
              "dynamische IP-Adresse ist 10.1.2.3");
    EXPECT_EQ(FillMailSubject("%IP% am %Date% um %Time% (%IP%)", "offline"),
              "offline am %Date% um %Time% (offline)");
    // A value holding the placeholder itself is inserted once, not replaced again and again.
    EXPECT_EQ(FillMailSubject("a %IP% b", "%IP%"), "a %IP% b");
    EXPECT_EQ(MailAddressText(true, "10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(MailAddressText(false, "10.1.2.3"), "offline");
}

TEST(MailPlaceholders, DefaultTextGivesThreeLines) {
    const test::FixedClock clock(test::SampleTime());
    const std::string text = FillMailText(DefaultMailData().Text, "10.1.2.3", clock);
    EXPECT_EQ(text, "Die IP-Adresse lautet: 10.1.2.3\r\nhttp://10.1.2.3,  ftp://10.1.2.3\r\n"
                    "[ gueltig seit 05.03.26, 14:05 Uhr ]");
}

TEST(MailPlaceholders, EveryTimePlaceholderReadsTheClockAnew) {
    const TickingClock clock;
    EXPECT_EQ(FillMailText("%Time% %Time% %Date%", "x", clock), "14:06 14:07 05.03.26");
    const test::FixedClock fixed(test::SampleTime());
    EXPECT_EQ(FillMailText("%time% %IP%%IP%", "1.2.3.4", fixed), "%time% 1.2.3.41.2.3.4");
}

TEST(MailResultTexts, CodesToReasons) {
    EXPECT_EQ(Pop3ResultText(1), "Passwort falsch");
    EXPECT_EQ(Pop3ResultText(2), "Konto unbekannt");
    EXPECT_EQ(Pop3ResultText(3), "Server nicht erreicht");
    EXPECT_EQ(Pop3ResultText(4), "keine Netzwerksverbindung");
    EXPECT_EQ(Pop3ResultText(5), "fehlende POP3-Parameter");
    EXPECT_EQ(Pop3ResultText(0), "undefinierter Fehler");
    EXPECT_EQ(SmtpResultText(1), "Übertragungsfehler"_l1);
    EXPECT_EQ(SmtpResultText(kMailSilent), "Server antwortet nicht (Zeitüberschreitung)"_l1);
    EXPECT_EQ(Pop3ResultText(kMailSilent), SmtpResultText(kMailSilent));
    EXPECT_EQ(SmtpResultText(kMailHelperEnded), "Mail-Prozess unerwartet beendet");
    EXPECT_EQ(SmtpResultText(3), "Server nicht erreicht");
    EXPECT_EQ(SmtpResultText(4), "keine Netzwerksverbindung");
    EXPECT_EQ(SmtpResultText(5), "fehlende SMTP-Parameter");
    EXPECT_EQ(SmtpResultText(-2), "Empfänger nicht akzeptiert"_l1);
    EXPECT_EQ(SmtpResultText(-3), "Absender nicht akzeptiert");
    EXPECT_EQ(SmtpResultText(-4), "Authentifizierung unzureichend");
    EXPECT_EQ(SmtpResultText(-1), "undefinierter Fehler");
    EXPECT_EQ(SmtpResultText(2), "undefinierter Fehler");
}

TEST(MailModes, ComparedExactly) {
    TMailData mail;
    mail.Auth = "Auth";
    EXPECT_TRUE(UsesSmtpAuth(mail));
    EXPECT_FALSE(UsesPop3Check(mail));
    mail.Auth = "AUTH";
    EXPECT_FALSE(UsesSmtpAuth(mail));
    mail.Auth = "Pop3";
    EXPECT_TRUE(UsesPop3Check(mail));
    mail.Auth = "pop3";
    EXPECT_FALSE(UsesPop3Check(mail));
}

} // namespace
} // namespace pelorix
