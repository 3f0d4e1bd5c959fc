#pragma once
// The one question of every connection check whose server was refused for its certificate or
// key: a first contact asks whether to trust what the server showed; a key that changed since
// it was trusted gets a warning of its own, "Nein" the default, and a second confirmation.

#include "net/Trust.h"

#include <QString>
#include <string>

// True when the user decided to trust what the server showed (refusal.SeenKey(), or key when
// the refusal came without a description).
bool AskToTrust(const pelorix::TrustDecision& refusal, const std::string& key);

// The box after a "Nein": the connection was not made, since the server was not trusted.
void TellNotTrusted();

// The one wording of a check that went through: "Verbindung in Ordnung", and the server's
// reply where there is one.
QString ConnectionFineText(const std::string& reply);
