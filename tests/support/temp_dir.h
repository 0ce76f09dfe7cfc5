// Files for tests: a fresh temporary folder, and reading and writing whole files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tests {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }  // no trailing '/'
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or, with null, removes) an environment variable for its lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_, old_;
    bool had_ = false;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Deterministic pseudo-random bytes (the same seed gives the same bytes).
std::string PatternBytes(std::size_t size, std::uint32_t seed = 1);

}  // namespace tests
