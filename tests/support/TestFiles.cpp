#include "tests/support/TestFiles.h"

#include <atomic>
#include <chrono>

namespace qel::testing {

ScopedWorkDir::ScopedWorkDir() {
    static std::atomic<unsigned> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           ("qeltest-" + std::to_string(ticks) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
}

ScopedWorkDir::~ScopedWorkDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(dir_, ignored);
}

}  // namespace qel::testing
