// A fresh temporary directory that is also the working directory for the
// life of the object, so tests of files the viewer writes "here" stay apart.
#pragma once

#include <filesystem>
#include <string>

namespace qel::testing {

class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::filesystem::path& path() const { return dir_; }
    // The path of name (UTF-8) in the directory, in UTF-8.
    std::string file(const std::string& name) const { return (dir_ / std::filesystem::u8path(name)).u8string(); }

private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

}  // namespace qel::testing
