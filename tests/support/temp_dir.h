// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    // Path of `name` inside the folder, as the library takes it.
    [[nodiscard]] std::string file(std::string_view name) const;
    // Writes `bytes` to `name`, a path relative to the folder whose folders
    // are made as needed ("loop/alpha.dll"), and answers its path.
    std::string write(std::string_view name, const std::vector<std::uint8_t>& bytes) const;

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> read_file(const std::string& path);
// Creates or replaces the file at `path` with exactly `bytes`; throws when
// that fails, so a test never goes on with a file it did not write.
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace korvex::test
