#pragma once
// The mail over a protected connection runs in a helper process (verb "mail", see
// platform/HelperProcess.h): OpenSSL cannot be unloaded, so the program that sends must never
// load it itself. The request carries the whole job, the answer the mail's code and its events
// in the order they happened.

#include "svc/MailCompose.h"

#include <chrono>
#include <string>

namespace pelorix {

// The helper's side: a packed job in, the packed outcome out.
std::string MailHelperWork(const std::string& request);

// The caller's side: runs the job in a helper and hands its events on; 4 when the helper could
// not be started, died or did not answer in time.
int RunMailJobInHelper(const MailJob& job, const MailEvents& events);

// A mail is a POP3 check and an SMTP dialogue, each ending by itself within its overall limit.
inline constexpr std::chrono::minutes kMailHelperLimit{5};

} // namespace pelorix
