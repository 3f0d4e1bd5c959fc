#include "platform/HelperProcess.h"

#include <charconv>
#include <cstring>
#include <mutex>

namespace pelorix {

namespace {

std::mutex gProgramLock;
std::string gProgram; // empty: the running program's own file

} // namespace

void SetHelperProgram(std::string path) {
    std::lock_guard lock(gProgramLock);
    gProgram = std::move(path);
}

std::string ChosenHelperProgram() {
    std::lock_guard lock(gProgramLock);
    return gProgram;
}

int RunHelperVerb(const char* name, std::span<const HelperVerb> verbs,
                  std::optional<std::string> (*readRequest)(), bool (*writeAnswer)(const std::string&)) {
    for (const HelperVerb& verb : verbs) {
        if (std::strcmp(verb.Name, name) != 0)
            continue;
        const auto request = readRequest();
        if (!request)
            return 1;
        std::string answer;
        try {
            answer = verb.Work(*request);
        } catch (...) {
            return 1;
        }
        return writeAnswer(answer) ? 0 : 1;
    }
    return 2;
}

std::string PackFields(const std::vector<std::string>& fields) {
    std::string bytes;
    for (const std::string& field : fields) {
        bytes += std::to_string(field.size());
        bytes += ':';
        bytes += field;
    }
    return bytes;
}

std::optional<std::vector<std::string>> UnpackFields(const std::string& bytes) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto colon = bytes.find(':', at);
        if (colon == std::string::npos || colon == at)
            return std::nullopt;
        std::size_t length = 0;
        const auto parsed = std::from_chars(bytes.data() + at, bytes.data() + colon, length);
        if (parsed.ec != std::errc() || parsed.ptr != bytes.data() + colon ||
            length > bytes.size() - colon - 1)
            return std::nullopt;
        fields.push_back(bytes.substr(colon + 1, length));
        at = colon + 1 + length;
    }
    return fields;
}

} // namespace pelorix
