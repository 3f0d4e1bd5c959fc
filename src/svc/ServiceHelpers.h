#pragma once
// The work the service's programs hand to helper processes (see platform/HelperProcess.h):
// the page upload, so the FTP engine never stays loaded in the long-running service.

#include "platform/HelperProcess.h"
#include "svc/PageUpload.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace pelorix {

// The verbs every program of the system answers when started as helper.
std::span<const HelperVerb> ServiceHelperVerbs();

// UploadPageFile in a helper process. nullopt when the helper could not be started, died or
// ran out of time; the upload's own outcome otherwise.
std::optional<PageUploadResult> UploadPageInHelper(const PageUploadParams& params);

// An upload ends by itself once no byte moved for a minute; this bounds the whole of it.
inline constexpr std::chrono::minutes kUploadHelperLimit{10};

// An address-source page over HTTPS: the whole exchange within 30 s, at most 1 MiB read.
inline constexpr std::uint32_t kHttpsFetchLimitMs = 30000;
inline constexpr std::size_t kHttpsFetchMaxBytes = 1024 * 1024;
inline constexpr std::chrono::seconds kHttpsHelperLimit{40};

struct HttpsFetchResult {
    bool Fetched = false;
    std::uint32_t Error = 0;  // a wininet error number when not fetched
    std::string Response;     // status line, headers, empty line and body as received
    std::string Reason;       // libcurl's reason of a failure
    std::string UntrustedKey; // a refused certificate: the key it showed ("sha256//…")
    TrustDecision Refusal;    // the same refusal in whole
};

// wininet::FetchHttps in a helper process, so TLS never loads into the calling program.
// nullopt when the helper could not be started, died or ran out of time.
std::optional<HttpsFetchResult> FetchHttpsInHelper(const std::string& url);

} // namespace pelorix
