#pragma once
// POSIX only: the account a service runs under when root starts it, the system user pelorix
// (PELORIX_SCM_ACCOUNT names another, for tests). The service program leaves root for it at
// its own start.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace pelorix::scm {

// Its ids and groups, looked up before any fork, since a child may only make system calls.
struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string name;
    std::string home;
};

// pelorix, or the account PELORIX_SCM_ACCOUNT names.
std::string AccountName();
// None when there is no such account.
std::optional<Account> LookUpAccount(const std::string& name);

} // namespace pelorix::scm
