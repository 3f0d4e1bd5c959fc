#pragma once
// Which text fields of the settings the manager edits, and the check every field passes before
// it is stored: the file holds Latin-1, so a text with characters Latin-1 cannot hold would be
// stored with "?" in their place (a password "pw\u20acx" as "pw?x"). Such a field keeps the value
// the file has, and the warning names it by the caption of its label.
//
// A view hands its texts over as UTF-16, as both toolkits hold them.

#include "common/Config.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

// Whether every character of text can be stored as Latin-1.
bool IsLatin1(std::u16string_view text);
// Latin-1 bytes; characters beyond it become "?".
std::string ToLatin1(std::u16string_view text);
std::u16string FromLatin1(std::string_view text);

// The text fields of the page "Parameter", in the order of the warning.
enum class SettingsField {
    HTMLTemplate,
    OfflTemplate,
    TempSite,
    FTPHost,
    FTPUser,
    FTPPass,
    FTPSite,
    IPSource,
    OnPublish
};

struct SettingsFieldInfo {
    SettingsField Field;
    const char* Label;                   // the caption of the field's label, Latin-1
    std::string ManagerSettings::*Value; // where the field's text is kept
};
const std::vector<SettingsFieldInfo>& SettingsFields();

// The caption as the warning names a field: the label without its colon (and what follows a
// colon and a blank), with single blanks.
std::string FieldCaption(std::string_view label);

// One field's text as the view has it.
struct FieldText {
    std::string Caption; // Latin-1
    std::u16string Text;
    std::string ManagerSettings::*Value;
};

// Every field whose text Latin-1 cannot hold gets the stored value instead (loadStored is called
// at most once, only when needed); returns the captions of those fields.
std::vector<std::string> KeepStoredForNotLatin1(ManagerSettings& settings,
                                                const std::vector<FieldText>& fields,
                                                const std::function<ManagerSettings()>& loadStored);

// The warning that names fields whose text cannot be stored (Latin-1).
std::string NotLatin1Text(const std::vector<std::string>& captions);

} // namespace pelorix
