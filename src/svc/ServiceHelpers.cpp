#include "svc/ServiceHelpers.h"

#include "svc/MailHelper.h"

#include <array>
#include <string>
#include <vector>

namespace pelorix {

namespace {

std::string EncodeParams(const PageUploadParams& params) {
    return PackFields({params.Host, params.User, params.Password, params.Passive ? "1" : "0",
                       params.LocalFile, params.RemoteSite});
}

std::optional<PageUploadParams> DecodeParams(const std::string& bytes) {
    const auto fields = UnpackFields(bytes);
    if (!fields || fields->size() != 6)
        return std::nullopt;
    PageUploadParams params;
    params.Host = (*fields)[0];
    params.User = (*fields)[1];
    params.Password = (*fields)[2];
    params.Passive = (*fields)[3] == "1";
    params.LocalFile = (*fields)[4];
    params.RemoteSite = (*fields)[5];
    return params;
}

std::string EncodeResult(const PageUploadResult& result) {
    return PackFields({std::to_string(static_cast<int>(result.Outcome)), result.StoredAs, result.ErrorText});
}

std::optional<PageUploadResult> DecodeResult(const std::string& bytes) {
    const auto fields = UnpackFields(bytes);
    if (!fields || fields->size() != 3 || (*fields)[0].size() != 1)
        return std::nullopt;
    const int outcome = (*fields)[0][0] - '0';
    if (outcome < 0 || outcome > static_cast<int>(PageUploadOutcome::Error))
        return std::nullopt;
    PageUploadResult result;
    result.Outcome = static_cast<PageUploadOutcome>(outcome);
    result.StoredAs = (*fields)[1];
    result.ErrorText = (*fields)[2];
    return result;
}

std::string UploadWork(const std::string& request) {
    const auto params = DecodeParams(request);
    if (!params)
        throw std::runtime_error("malformed upload request");
    return EncodeResult(UploadPageFile(*params));
}

constexpr std::array<HelperVerb, 2> kVerbs{{{"upload", &UploadWork},
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
