// Times the address scan on 99,999-character answers that hold no address, from harmless
// prose to text packed with dots and digits. Prints the slowest of several runs per page.

#include "svc/AddressScan.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Repeat(const std::string& piece) {
    std::string text;
    while (text.size() < pelorix::kScanLimit)
        text += piece;
    text.resize(pelorix::kScanLimit);
    return text;
}

} // namespace

int main() {
    const std::vector<std::pair<const char*, std::string>> pages = {
        {"prose without dots", Repeat("Hier steht keine Adresse und kein Punkt ")},
        {"sentences", Repeat("Ein Satz. Noch ein Satz. ")},
        {"only dots", Repeat(".")},
        {"digits and dots", Repeat("1.2..")},
        {"version numbers", Repeat("Apache/1.3.26 ")},
        {"fourth number too large", Repeat("1.2.3.456 ")},
        {"first number too large", Repeat("300.1.2.3x")},
        {"long digit runs", "1." + Repeat("1")},
        {"tags around numbers", Repeat("<b>1.2</b>.<i>3</i>.x")},
    };
    bool allFast = true;
    for (const auto& [name, page] : pages) {
        double slowestMs = 0;
        for (int run = 0; run < 20; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const std::string address = pelorix::FindAddressInAnswer(page);
            const auto end = std::chrono::steady_clock::now();
            if (!address.empty()) {
                std::printf("%-26s unexpectedly found %s\n", name, address.c_str());
                return 1;
            }
            slowestMs = std::max(slowestMs, std::chrono::duration<double, std::milli>(end - start).count());
        }
        allFast = allFast && slowestMs < 5.0;
        std::printf("%-26s %8.3f ms\n", name, slowestMs);
    }
    return allFast ? 0 : 1;
}
