#pragma once
// A fresh directory for one test (below /tmp, on Windows below the temporary directory),
// removed with its contents afterwards.

#include <string>

namespace pelorix::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory with its trailing separator ("/", on Windows "\\"), like ProgramDir.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

private:
    std::string path_;
};

} // namespace pelorix::test
