// Built twice: into the test support library, where its fsync stands in for the C library's in
// every test program that uses a FolderSyncSpy, and as a small shared library that a test
// preloads into a program it runs. Plain C++ (no Qt), so that it can be preloaded anywhere.
#include "FolderSyncSpy.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kLogVariable = "VELTRANE_FOLDER_SYNC_LOG";

void Record(int fd)
{
    const char* log = std::getenv(kLogVariable);
    struct stat st {};
    if (!log || ::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    char link[64], folder[PATH_MAX] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (::readlink(link, folder, sizeof folder - 1) <= 0)
        return;
    std::vector<std::string> names;
    const int dirFd = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* dir = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr) {
        while (const dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        ::closedir(dir);
    } else if (dirFd >= 0) {
        ::close(dirFd);
    }
    std::sort(names.begin(), names.end());
    // One line per sync: the folder, a tab, the entries separated by '/' (no name holds one).
    std::string line = std::string(folder) + '\t';
    for (size_t i = 0; i < names.size(); ++i)
        line += (i ? "/" : "") + names[i];
    line += '\n';
    const int out = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (out >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(out, line.data(), line.size());
        ::close(out);
    }
}

// Where the shared build of this file lies, for LD_PRELOAD: beside the test programs.
std::string PreloadLibrary()
{
#ifdef VELTRANE_FOLDER_SYNC_SPY_LIBRARY
    return VELTRANE_FOLDER_SYNC_SPY_LIBRARY;
#else
    return {};
#endif
}

} // namespace

extern "C" int fsync(int fd)
{
    using Fn = int (*)(int);
    static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "fsync"));
    Record(fd);
    return real(fd);
}

namespace testsupport {

FolderSyncSpy::FolderSyncSpy()
{
    char name[] = "/tmp/veltrane-folder-syncs.XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0)
        ::close(fd);
    m_strLog = name;
    ::setenv(kLogVariable, m_strLog.c_str(), 1);
}

FolderSyncSpy::~FolderSyncSpy()
{
    ::unsetenv(kLogVariable);
    ::unlink(m_strLog.c_str());
}

std::vector<std::vector<std::string>> FolderSyncSpy::SyncsOf(const std::string& folder) const
{
    char real[PATH_MAX] = {};
    const std::string wanted = ::realpath(folder.c_str(), real) ? real : folder;
    std::vector<std::vector<std::string>> syncs;
    std::ifstream in(m_strLog);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.substr(0, tab) != wanted)
            continue;
        std::vector<std::string> names;
        std::istringstream entries(line.substr(tab + 1));
        std::string name;
        while (std::getline(entries, name, '/'))
            names.push_back(name);
        syncs.push_back(names);
    }
    return syncs;
}

bool FolderSyncSpy::SyncedHolding(const std::string& folder, const std::vector<std::string>& entries) const
{
    std::vector<std::string> sorted = entries;
    std::sort(sorted.begin(), sorted.end());
    const auto syncs = SyncsOf(folder);
    return std::find(syncs.begin(), syncs.end(), sorted) != syncs.end();
}

std::vector<std::string> FolderSyncSpy::PreloadEnvironment() const
{
    // A sanitized program insists on its runtime coming first; the spy has no part in that.
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {"LD_PRELOAD=" + PreloadLibrary(), std::string(kLogVariable) + "=" + m_strLog,
            "ASAN_OPTIONS=" + std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0"};
}

} // namespace testsupport
