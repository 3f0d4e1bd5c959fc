#include "svc/MailHelper.h"

#include "platform/HelperProcess.h"

#include <charconv>
#include <stdexcept>
#include <vector>

namespace pelorix {

namespace {

// The clock of the helper: the moment the caller composed the mail, so the Date header tells
// the same time as the text.
class FixedClock final : public IClock {
public:
    explicit FixedClock(const LocalTime& when) : when_(when) {}
    LocalTime Now() const override { return when_; }
    long long MonotonicMs() const override { return SystemClock::Instance().MonotonicMs(); }

private:
    LocalTime when_;
};

constexpr std::size_t kJobFields = 30;

std::optional<int> Number(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string EncodeJob(const MailJob& job) {
    const TMailData& m = job.Mail;
    const LocalTime& t = job.When;
    const MailLinkOptions& l = job.Link;
    const auto n = [](int value) { return std::to_string(value); };
    return PackFields({m.Server,
                       m.POP3Srv,
                       m.From,
                       m.Sender,
                       m.To,
                       m.CC,
                       m.BCC,
                       m.Subject,
                       m.Text,
                       m.AuthID,
                       m.AuthPw,
                       m.Auth,
                       m.Security,
                       n(m.Port),
                       n(m.POP3Port),
                       m.Trust,
                       job.Subject,
                       job.Text,
                       n(t.year),
                       n(t.month),
                       n(t.day),
                       n(t.hour),
                       n(t.minute),
                       n(t.second),
                       n(t.weekday),
                       n(t.utcOffsetMinutes),
                       n(l.SmtpPort) + "," + n(l.Pop3Port),
                       n(l.ConnectTimeoutMs) + "," + n(l.ReplyTimeoutMs),
                       n(l.DialogueTimeoutMs),
                       job.CheckOnly ? "1" : "0"});
}

std::optional<MailJob> DecodeJob(const std::string& bytes) {
    const auto fields = UnpackFields(bytes);
    if (!fields || fields->size() != kJobFields)
        return std::nullopt;
    const std::vector<std::string>& f = *fields;
    MailJob job;
    TMailData& m = job.Mail;
    for (auto [text, at] : {std::pair{&m.Server, 0},
                            {&m.POP3Srv, 1},
                            {&m.From, 2},
                            {&m.Sender, 3},
                            {&m.To, 4},
                            {&m.CC, 5},
                            {&m.BCC, 6},
                            {&m.Subject, 7},
                            {&m.Text, 8},
                            {&m.AuthID, 9},
                            {&m.AuthPw, 10},
                            {&m.Auth, 11},
                            {&m.Security, 12},
                            {&m.Trust, 15},
                            {&job.Subject, 16},
                            {&job.Text, 17}})
        *text = f[static_cast<std::size_t>(at)];
    std::vector<int> numbers;
    for (std::size_t i : {13, 14, 18, 19, 20, 21, 22, 23, 24, 25, 28}) {
        const auto value = Number(f[i]);
        if (!value)
            return std::nullopt;
        numbers.push_back(*value);
    }
    m.Port = numbers[0];
    m.POP3Port = numbers[1];
    job.When = {numbers[2], numbers[3], numbers[4], numbers[5],
                numbers[6], numbers[7], numbers[8], numbers[9]};
    job.Link.DialogueTimeoutMs = numbers[10];
    const auto pair = [&f](std::size_t at) -> std::optional<std::pair<int, int>> {
        const std::size_t comma = f[at].find(',');
        if (comma == std::string::npos)
            return std::nullopt;
        const auto first = Number(f[at].substr(0, comma));
        const auto second = Number(f[at].substr(comma + 1));
        if (!first || !second)
            return std::nullopt;
        return std::pair{*first, *second};
    };
    const auto ports = pair(26);
    const auto timeouts = pair(27);
    if (!ports || !timeouts || ports->first < 0 || ports->first > 65535 || ports->second < 0 ||
        ports->second > 65535)
        return std::nullopt;
    job.Link.SmtpPort = static_cast<std::uint16_t>(ports->first);
    job.Link.Pop3Port = static_cast<std::uint16_t>(ports->second);
    job.Link.ConnectTimeoutMs = timeouts->first;
    job.Link.ReplyTimeoutMs = timeouts->second;
    job.CheckOnly = f[29] == "1";
    return job;
}

} // namespace

std::string MailHelperWork(const std::string& request) {
    const auto job = DecodeJob(request);
    if (!job)
        throw std::runtime_error("malformed mail request");
    // The answer: the code, then one kind and one text per event ("P" POP3 code, "L" line,
    // "K" key of an untrusted server, "R" the SMTP server's refusal).
    std::vector<std::string> answer{""};
    MailEvents events;
    events.OnPop3Check = [&answer](int code) {
        answer.push_back("P");
        answer.push_back(std::to_string(code));
    };
    events.OnSecurityLine = [&answer](const std::string& line) {
        answer.push_back("L");
        answer.push_back(line);
    };
    events.OnUntrustedKey = [&answer](const std::string& pin) {
        answer.push_back("K");
        answer.push_back(pin);
    };
    events.OnRefusalReply = [&answer](const std::string& reply) {
        answer.push_back("R");
        answer.push_back(reply);
    };
    const FixedClock clock(job->When);
    answer[0] = std::to_string(RunMailJob(*job, clock, events));
    return PackFields(answer);
}

int RunMailJobInHelper(const MailJob& job, const MailEvents& events) {
    const auto answer = RunInHelperProcess("mail", EncodeJob(job), kMailHelperLimit);
    if (!answer)
        return kMailHelperEnded;
    const auto fields = UnpackFields(*answer);
    if (!fields || fields->empty() || fields->size() % 2 != 1)
        return kMailHelperEnded;
    const auto code = Number((*fields)[0]);
    if (!code)
        return kMailHelperEnded;
    for (std::size_t i = 1; i + 1 < fields->size(); i += 2) {
        const std::string& kind = (*fields)[i];
        const std::string& text = (*fields)[i + 1];
        if (kind == "P" && events.OnPop3Check)
            events.OnPop3Check(Number(text).value_or(4));
        else if (kind == "L" && events.OnSecurityLine)
            events.OnSecurityLine(text);
        else if (kind == "K" && events.OnUntrustedKey)
            events.OnUntrustedKey(text);
        else if (kind == "R" && events.OnRefusalReply)
            events.OnRefusalReply(text);
    }
    return *code;
}

} // namespace pelorix
