#pragma once
// What the user is told about a trust decision (net/Trust.h): the reason of a refusal in
// German, the status line of the service, the question of the manager's checks and the warning
// for a key that changed; and the decision packed for the way from a helper process back.
// Texts are Latin-1.

#include "net/Trust.h"

#include <optional>
#include <string>

namespace pelorix {

// "selbst signiert", "abgelaufen am 01.02.2026", "ausgestellt für a.test statt für b.test", …
std::string RefusalReasonText(const TrustDecision& decision);

// The level-0 line of a refused server: "-Zertifikat nicht vertrauenswürdig (selbst signiert):
// sha256//…", "-Zertifikat geändert: …", "-SFTP-Schlüssel unbekannt: …", "-SFTP-Schlüssel
// geändert: …". A decision that carries no description (only the key is known) gets the
// line of its key's form.
std::string RefusalLine(const TrustDecision& decision);
// The level-1 line of a certificate the authorities accept while a pin is stored.
std::string PinUnneededLine();

// What the manager asks about a first contact: the reason and what the server showed, one
// value a line; a fingerprint is never broken, the hex form is split at a colon.
std::string TrustQuestionText(const TrustDecision& decision);
// The warning for a changed key: that it changed since it was trusted, that this can be an
// attack, the old and the new key.
std::string TrustChangeWarningText(const TrustDecision& decision);
// The second, explicit confirmation before a changed key replaces the stored one.
std::string TrustChangeConfirmationText();

// A decision as one field of a helper's answer, and back (nullopt for malformed bytes).
std::string PackTrustDecision(const TrustDecision& decision);
std::optional<TrustDecision> UnpackTrustDecision(const std::string& bytes);

} // namespace pelorix
