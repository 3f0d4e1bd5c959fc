#pragma once
// The work the service's programs hand to helper processes (see platform/HelperProcess.h):
// the page upload, so the FTP engine never stays loaded in the long-running service.

#include "platform/HelperProcess.h"
#include "svc/PageUpload.h"

#include <chrono>
#include <optional>
#include <span>

namespace pelorix {

// The verbs every program of the system answers when started as helper.
std::span<const HelperVerb> ServiceHelperVerbs();

// UploadPageFile in a helper process. nullopt when the helper could not be started, died or
// ran out of time; the upload's own outcome otherwise.
std::optional<PageUploadResult> UploadPageInHelper(const PageUploadParams& params);

// An upload ends by itself once no byte moved for a minute; this bounds the whole of it.
inline constexpr std::chrono::minutes kUploadHelperLimit{10};

} // namespace pelorix
