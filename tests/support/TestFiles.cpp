#include "TestFiles.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace dxfkonv::test {

namespace fs = std::filesystem;

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

TempDir::~TempDir()
{
    std::error_code ec;
    // Let the removal through directories a test locked.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::names(const std::string& sub) const
{
    std::vector<std::string> result;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sub.empty() ? path_ : file(sub), ec))
        result.push_back(entry.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
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

bool becomeUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups)
{
    // The groups and the group first: once the user is set, they cannot be.
    return setgroups(groups.size(), groups.data()) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
}

int runUnprivileged(const std::function<int()>& fn)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (geteuid() == 0 && !becomeUser(kNobody, kNobody))
            _exit(255);
        _exit(fn());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

FileSizeLimit::FileSizeLimit(unsigned long bytes)
{
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    savedSoft_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = savedSoft_;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler_);
}

}  // namespace dxfkonv::test
