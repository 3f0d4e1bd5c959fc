#include "svc/ServiceHelpers.h"

#include "net/InternetSession.h"
#include "net/TrustText.h"
#include "svc/MailHelper.h"

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelorix {

namespace {

int SmallNumber(const std::string& text) {
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > 99999)
            return -1;
        value = value * 10 + (c - '0');
    }
    return text.empty() ? -1 : value;
}

std::string EncodeParams(const PageUploadParams& params) {
    return PackFields({params.Host, params.User, params.Password, params.Passive ? "1" : "0",
                       params.LocalFile, params.RemoteSite, std::to_string(params.Mode),
                       std::to_string(params.Port), params.Trust, params.DirectUpload ? "1" : "0"});
}

std::optional<PageUploadParams> DecodeParams(const std::string& bytes) {
    const auto fields = UnpackFields(bytes);
    if (!fields || fields->size() != 10)
        return std::nullopt;
    PageUploadParams params;
    params.Host = (*fields)[0];
    params.User = (*fields)[1];
    params.Password = (*fields)[2];
    params.Passive = (*fields)[3] == "1";
    params.LocalFile = (*fields)[4];
    params.RemoteSite = (*fields)[5];
    params.Mode = SmallNumber((*fields)[6]);
    params.Port = SmallNumber((*fields)[7]);
    params.Trust = (*fields)[8];
    params.DirectUpload = (*fields)[9] == "1";
    if (params.Mode < 0 || params.Port < 0)
        return std::nullopt;
    return params;
}

std::string EncodeResult(const PageUploadResult& result) {
    return PackFields({std::to_string(static_cast<int>(result.Outcome)), result.StoredAs, result.ErrorText,
                       result.ServerReply, result.UntrustedKey, result.RenameRefused ? "1" : "0",
                       result.Unavailable ? "1" : "0", std::to_string(result.Error),
                       PackTrustDecision(result.Refusal), result.PinUnneeded ? "1" : "0"});
}

std::optional<PageUploadResult> DecodeResult(const std::string& bytes) {
    const auto fields = UnpackFields(bytes);
    if (!fields || fields->size() != 10)
        return std::nullopt;
    const auto refusal = UnpackTrustDecision((*fields)[8]);
    if (!refusal)
        return std::nullopt;
    const int outcome = SmallNumber((*fields)[0]);
    if (outcome < 0 || outcome > static_cast<int>(PageUploadOutcome::LoggedIn))
        return std::nullopt;
    PageUploadResult result;
    result.Outcome = static_cast<PageUploadOutcome>(outcome);
    result.StoredAs = (*fields)[1];
    result.ErrorText = (*fields)[2];
    result.ServerReply = (*fields)[3];
    result.UntrustedKey = (*fields)[4];
    result.RenameRefused = (*fields)[5] == "1";
    result.Unavailable = (*fields)[6] == "1";
    const int error = SmallNumber((*fields)[7]);
    result.Error = error < 0 ? wininet::kErrorInternetInternalError : static_cast<std::uint32_t>(error);
    result.Refusal = *refusal;
    result.PinUnneeded = (*fields)[9] == "1";
    return result;
}

std::string FetchWork(const std::string& request) {
    const auto fields = UnpackFields(request);
    if (!fields || fields->size() != 1)
        throw std::runtime_error("malformed fetch request");
    HttpsFetchResult result;
    std::uint32_t error = 0;
    result.Fetched = wininet::FetchHttps((*fields)[0], kHttpsFetchLimitMs, kHttpsFetchMaxBytes,
                                         result.Response, error, result.Reason);
    result.Error = error;
    result.UntrustedKey = result.Fetched ? std::string() : wininet::LastUntrustedKey();
    result.Refusal = result.Fetched ? TrustDecision{} : wininet::LastRefusal();
    return PackFields({result.Fetched ? "1" : "0", std::to_string(result.Error), result.Response,
                       result.Reason, result.UntrustedKey, PackTrustDecision(result.Refusal)});
}

std::string UploadWork(const std::string& request) {
    const auto params = DecodeParams(request);
    if (!params)
        throw std::runtime_error("malformed upload request");
    return EncodeResult(UploadPageFile(*params));
}

constexpr std::array<HelperVerb, 3> kVerbs{{{"upload", &UploadWork},
                                            {"fetch", &FetchWork},
                                            // The mail over a protected connection (svc/MailHelper.h).
                                            {"mail", &MailHelperWork}}};

} // namespace

std::span<const HelperVerb> ServiceHelperVerbs() {
    return kVerbs;
}

std::optional<PageUploadResult> UploadPageInHelper(const PageUploadParams& params) {
    const auto answer = RunInHelperProcess("upload", EncodeParams(params), kUploadHelperLimit);
    if (!answer)
        return std::nullopt;
    return DecodeResult(*answer);
}

} // namespace pelorix

namespace pelorix {

std::optional<HttpsFetchResult> FetchHttpsInHelper(const std::string& url) {
    const auto answer = RunInHelperProcess("fetch", PackFields({url}), kHttpsHelperLimit);
    if (!answer)
        return std::nullopt;
    const auto fields = UnpackFields(*answer);
    if (!fields || fields->size() != 6)
        return std::nullopt;
    const auto refusal = UnpackTrustDecision((*fields)[5]);
    if (!refusal)
        return std::nullopt;
    HttpsFetchResult result;
    result.Refusal = *refusal;
    result.Fetched = (*fields)[0] == "1";
    const int error = SmallNumber((*fields)[1]);
    result.Error = error < 0 ? wininet::kErrorInternetInternalError : static_cast<std::uint32_t>(error);
    result.Response = (*fields)[2];
    result.Reason = (*fields)[3];
    result.UntrustedKey = (*fields)[4];
    return result;
}

} // namespace pelorix
