#include "TestFiles.h"

#include <stdlib.h>

#include <algorithm>
#include <random>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace dxfkonv::test {

namespace fs = std::filesystem;

namespace {

// A path as the tests write it: UTF-8, on Windows too.
fs::path pathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string utf8Of(const fs::path& path)
{
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace

#ifdef _WIN32
TempDir::TempDir(Access)
{
    // Windows has no mkdtemp(): names are tried until one is free.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("dxfkonv-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec))
            path_ = utf8Of(candidate);
    }
    if (path_.empty())
        throw std::runtime_error("no temporary directory could be made");
}
#else
TempDir::TempDir(Access access)
{
    const fs::path base = access == Access::kEverybody ? fs::path("/tmp") : fs::temp_directory_path();
    std::string pattern = (base / "dxfkonv-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (access == Access::kEverybody)
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
}
#endif

TempDir::~TempDir()
{
    std::error_code ec;
    // Let the removal through directories a test locked.
    for (auto it = fs::recursive_directory_iterator(pathOf(path_), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(pathOf(path_), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(pathOf(path_), ec);
}

std::vector<std::string> TempDir::names(const std::string& sub) const
{
    std::vector<std::string> result;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(pathOf(sub.empty() ? path_ : file(sub)), ec))
        result.push_back(utf8Of(entry.path().filename()));
    std::sort(result.begin(), result.end());
    return result;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(pathOf(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(pathOf(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string sampleFile(const std::string& name)
{
    return readFile(std::string(DXFKONV_SAMPLES_DIR) + "/" + name);
}

std::string expectedFile(const std::string& name)
{
    return readFile(std::string(DXFKONV_TEST_DATA_DIR) + "/" + name);
}

}  // namespace dxfkonv::test
