#include "mgrcore/FieldCheck.h"

#include "base/Latin1.h"

#include <optional>

namespace pelorix {

bool IsLatin1(std::u16string_view text) {
    for (const char16_t c : text)
        if (c > 0xFF)
            return false;
    return true;
}

std::string ToLatin1(std::u16string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char16_t c : text)
        result += c > 0xFF ? '?' : static_cast<char>(c);
    return result;
}

std::u16string FromLatin1(std::string_view text) {
    std::u16string result;
    result.reserve(text.size());
    for (const char c : text)
        result += static_cast<char16_t>(static_cast<unsigned char>(c));
    return result;
}

const std::vector<SettingsFieldInfo>& SettingsFields() {
    using S = ManagerSettings;
    static const std::vector<SettingsFieldInfo> fields = {
        {SettingsField::HTMLTemplate, "HTML-Vorlage:", &S::HTMLTemplate},
        {SettingsField::OfflTemplate, "Abmelde-Vorlage:", &S::OfflTemplate},
        {SettingsField::TempSite, "lokale Kopie der  Generatorseite:", &S::TempSite},
        {SettingsField::FTPHost, "FTP-Host:", &S::FTPHost},
        {SettingsField::FTPUser, "FTP-User-Name:", &S::FTPUser},
        {SettingsField::FTPPass, "FTP-Passwort:", &S::FTPPass},
        {SettingsField::FTPSite, "UpLoad-Seite: (inclusive Pfad)", &S::FTPSite},
        {SettingsField::IPSource, "HTTP-Seite:", &S::IPSource},
        {SettingsField::OnPublish, "Befehl nach Upload:", &S::OnPublish}};
    return fields;
}

std::string FieldCaption(std::string_view label) {
    std::string caption;
    for (const char c : label) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (blank) {
            if (!caption.empty() && caption.back() != ' ')
                caption += ' ';
        } else {
            caption += c;
        }
    }
    if (!caption.empty() && caption.back() == ' ')
        caption.pop_back();
    const std::size_t colon = caption.find(':');
    if (colon != std::string::npos && (colon + 1 == caption.size() || caption[colon + 1] == ' '))
        caption.resize(colon);
    return caption;
}

std::vector<std::string> KeepStoredForNotLatin1(ManagerSettings& settings,
                                                const std::vector<FieldText>& fields,
                                                const std::function<ManagerSettings()>& loadStored) {
    std::vector<std::string> refused;
    std::optional<ManagerSettings> stored;
    for (const FieldText& field : fields) {
        if (IsLatin1(field.Text))
            continue;
        if (!stored)
            stored = loadStored();
        settings.*field.Value = (*stored).*field.Value;
        refused.push_back(field.Caption);
    }
    return refused;
}

std::string NotLatin1Text(const std::vector<std::string>& captions) {
    std::string names = "\"";
    for (std::size_t i = 0; i < captions.size(); ++i)
        names += (i ? "\", \"" : "") + captions[i];
    names += '"';
    std::string text = captions.size() == 1
                           ? "Das Feld " + names +
                                 " enthält Zeichen, die nicht gespeichert werden können; "_l1 +
                                 "es wird nicht gespeichert."
                           : "Die Felder " + names + " enthalten Zeichen, die nicht gespeichert werden "_l1 +
                                 "können; sie werden nicht gespeichert."_l1;
    return text + "\r\n\nGespeichert werden können nur Latin-1-Zeichen (westeuropäische Buchstaben)."_l1;
}

} // namespace pelorix
