#include "scm/ServiceProcess.h"

#include "base/Latin1.h"
#include "platform/ChildProcess_posix.h"
#include "platform/CleanEnvironment_posix.h"
#include "platform/FileSystemName.h"
#include "platform/RootOnlyPath_posix.h"
#include "platform/SystemMessage.h"
#include "platform/SystemNotify.h"
#include "scm/ServiceAccount_posix.h"

#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

extern char** environ;

namespace pelorix {

namespace {

void SayWhy(const std::string& latin1) {
    const std::string text = Latin1ToUtf8(latin1) + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Why someone other than root could change the settings, or empty when only root can. A
// missing file counts as its directory: whoever may create it there could.
std::string SettingsDoubt(const std::string& settingsPath) {
    const std::string path = FileSystemName(settingsPath);
    RootOnlyCheck check = CheckRootOnly(path);
    if (check.error == ENOENT && check.resolvedPath == path)
        check = CheckRootOnly(DirectoryOf(path));
    if (check.error != 0)
        return SystemTextOfName(check.resolvedPath) + ": " + SystemErrorText(check.error);
    return check.reason;
}

// As root: the account, or root itself when it may stay. False after saying why it may not.
bool LeaveRoot(const std::string& settingsPath, std::optional<EnvironmentAccount>& who) {
    const std::string name = scm::AccountName();
    const auto account = scm::LookUpAccount(name);
    if (account && account->uid != 0) {
        if (!DropToAccount({account->uid, account->gid, account->groups})) {
            SayWhy("Der Dienst kann nicht als Benutzer "_l1 + name + " laufen: " + SystemErrorText(errno));
            return false;
        }
        who = EnvironmentAccount{account->name, account->home};
        return true;
    }
    const std::string doubt = SettingsDoubt(settingsPath);
    if (doubt.empty())
        return true;
    SayWhy("Pelorix.ini ist für andere Benutzer schreibbar - der Dienst läuft nicht als root ("_l1 + doubt +
           (account ? ")" : "; Benutzer " + name + " fehlt)"));
    return false;
}

} // namespace

bool PrepareServiceProcess(char** argv, const std::string& settingsPath) {
    std::optional<EnvironmentAccount> who;
    if (::geteuid() == 0 && !LeaveRoot(settingsPath, who))
        return false;
    std::vector<std::string> clean = CleanEnvironment(environ, who ? &*who : nullptr);
    for (std::string& entry : ServiceManagerEnvironment())
        clean.push_back(std::move(entry));
    std::vector<std::string> current;
    for (char** entry = environ; entry && *entry; ++entry)
        current.emplace_back(*entry);
    if (clean == current)
        return true;
    std::vector<char*> envp = ExecPointers(clean);
    ::execve("/proc/self/exe", argv, envp.data());
    // The program could not be run again (its file out of the account's reach): the clean
    // environment then holds for this process and everything it starts.
    ::clearenv();
    for (const std::string& entry : clean) {
        const auto equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    return true;
}

} // namespace pelorix
