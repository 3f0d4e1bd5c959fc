// Times the address scan on 99,999-character answers that hold no address, from harmless
// prose to text packed with dots and digits. Prints the slowest and the median of several runs
// per page (the median tells the scan's cost apart from a busy machine's interruptions), and
// last a machine-readable line: RESULT address_scan <slowest ms> <largest median ms>.

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
    double slowestOverall = 0;
    double largestMedian = 0;
    for (const auto& [name, page] : pages) {
        std::vector<double> runs;
        for (int run = 0; run < 20; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const std::string address = pelorix::FindAddressInAnswer(page);
            const auto end = std::chrono::steady_clock::now();
            if (!address.empty()) {
                std::printf("%-26s unexpectedly found %s\n", name, address.c_str());
                return 1;
            }
            runs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
        std::sort(runs.begin(), runs.end());
        const double slowestMs = runs.back();
        const double medianMs = (runs[runs.size() / 2 - 1] + runs[runs.size() / 2]) / 2;
        allFast = allFast && slowestMs < 5.0;
        slowestOverall = std::max(slowestOverall, slowestMs);
        largestMedian = std::max(largestMedian, medianMs);
        std::printf("%-26s %8.3f ms   (median %.3f ms)\n", name, slowestMs, medianMs);
    }
    std::printf("RESULT address_scan %.3f %.3f\n", slowestOverall, largestMedian);
    return allFast ? 0 : 1;
}
