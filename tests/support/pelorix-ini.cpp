// Writes keys into a Pelorix.ini for scripts and end-to-end tests, through the same profile
// layer and password scrambling the manager uses:
//     pelorix-ini FILE SECTION KEY=VALUE [+PASSKEY=PLAIN] ...
// A key with a leading "+" is stored scrambled. Values are taken as UTF-8 and stored as Latin-1.

#include "base/Latin1.h"
#include "common/Config.h"
#include "platform/ProfileFile.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: pelorix-ini FILE SECTION KEY=VALUE [+PASSKEY=PLAIN] ...\n");
        return 2;
    }
    pelorix::ProfileFile file(argv[1]);
    const std::string section = argv[2];
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        const bool scrambled = !arg.empty() && arg[0] == '+';
        if (scrambled)
            arg.erase(0, 1);
        const auto eq = arg.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::fprintf(stderr, "pelorix-ini: KEY=VALUE expected, got '%s'\n", argv[i]);
            return 2;
        }
        std::string value = pelorix::Utf8ToLatin1(arg.substr(eq + 1));
        if (scrambled)
            value = pelorix::ScramblePassword(value);
        file.WriteString(section, arg.substr(0, eq), value);
    }
    if (!file.Commit()) {
        std::fprintf(stderr, "pelorix-ini: %s\n", std::strerror(file.LastError()));
        return 1;
    }
    return 0;
}
