#pragma once
// A message as the test SMTP server (smtp_server.py) stored it, read back the way Python's
// email package with policy=default understood it (texts in UTF-8).

#include "TempDir.h"

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pelorix::test {

// One stored message as the server's email package read it (texts in UTF-8).
struct Received {
    std::string mailFrom;
    std::vector<std::string> rcpt;
    bool authenticated = false;
    std::map<std::string, std::string> headers;
    std::vector<std::string> body;
    bool found = false;
};

inline Received ReadReceived(const TempDir& dir, int number) {
    Received r;
    const std::string name = "msg" + std::to_string(number) + ".txt";
    if (!dir.Exists(name))
        return r;
    r.found = true;
    std::istringstream in(dir.Read(name));
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        const std::string key = line.substr(0, tab);
        const std::string value = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        if (key == "mail_from")
            r.mailFrom = value;
        else if (key == "rcpt")
            r.rcpt.push_back(value);
        else if (key == "authenticated")
            r.authenticated = value == "1";
        else if (key == "body")
            r.body.push_back(value);
        else if (key == "header")
            r.headers[value.substr(0, value.find(": "))] = value.substr(value.find(": ") + 2);
    }
    return r;
}

} // namespace pelorix::test
