// Times the SMTP dialogue of the mail client against a real server: sends COUNT mails one
// after the other, one TSMTPObject each as the service does, to 127.0.0.1:PORT, and prints the
// time of each delivery and a summary. The last line is machine-readable:
//     RESULT smtp_mail <min ms> <median ms> <max ms> <mean ms> <count>
//
//     SmtpBench PORT [COUNT]

#include "mail/SimpleMail.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: SmtpBench PORT [COUNT]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 20;
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        pelorix::TSMTPObject mail;
        mail.Server = "127.0.0.1";
        mail.Port = static_cast<std::uint16_t>(port);
        mail.MailFrom = "ip@example.org";
        mail.SenderName = "Pelorix";
        mail.MailTo = "anna@example.org";
        mail.Subject = "dynamische IP-Adresse ist 198.51.100." + std::to_string(i + 1);
        mail.SetMailText("Die aktuelle IP-Adresse lautet 198.51.100." + std::to_string(i + 1) + "\r\n");
        const auto start = std::chrono::steady_clock::now();
        const int code = mail.Deliver();
        const auto end = std::chrono::steady_clock::now();
        if (code != 0) {
            std::fprintf(stderr, "mail %d: code %d\n", i + 1, code);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    const double mean = std::accumulate(times.begin(), times.end(), 0.0) / static_cast<double>(times.size());
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    std::printf("%d mails: min %.2f ms, median %.2f ms, max %.2f ms, mean %.2f ms per mail\n", count,
                sorted.front(), median, sorted.back(), mean);
    std::printf("RESULT smtp_mail %.2f %.2f %.2f %.2f %d\n", sorted.front(), median, sorted.back(), mean,
                count);
    return 0;
}
