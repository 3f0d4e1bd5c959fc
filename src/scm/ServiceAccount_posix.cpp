#include "scm/ServiceAccount_posix.h"

#include "scm/ServiceControl.h"

#include <grp.h>
#include <pwd.h>

#include <cstdlib>

namespace pelorix::scm {

std::string AccountName() {
    const char* configured = std::getenv(kAccountVariable);
    return (configured && *configured) ? configured : kDefaultAccount;
}

std::optional<Account> LookUpAccount(const std::string& name) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::nullopt;
    Account account{found->pw_uid, found->pw_gid, {}, found->pw_name, found->pw_dir ? found->pw_dir : "/"};
    int count = 32;
    account.groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, account.groups.data(), &count) < 0) {
        account.groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, account.groups.data(), &count) < 0)
            return std::nullopt;
    }
    account.groups.resize(static_cast<std::size_t>(count));
    return account;
}

} // namespace pelorix::scm
