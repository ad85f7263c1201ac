#include "cli/ProjectWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

const uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB;

} // namespace

ProjectWatcher::~ProjectWatcher()
{
    if (m_fd >= 0) close(m_fd);
}

bool ProjectWatcher::Start(const std::string& project, const std::string& skip, std::string* error)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        *error = std::string("cannot watch files: ") + std::strerror(errno);
        return false;
    }
    m_skip = std::filesystem::path(skip).lexically_normal().string();
    _watchTree(project);
    if (m_folders.empty()) {
        *error = "cannot watch " + project;
        return false;
    }
    return true;
}

void ProjectWatcher::_watchTree(const std::string& folder)
{
    const std::string normal = std::filesystem::path(folder).lexically_normal().string();
    if (normal == m_skip) return;
    const int wd = inotify_add_watch(m_fd, normal.c_str(), kEvents | IN_ONLYDIR);
    if (wd < 0) return;
    m_folders[wd] = normal;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(normal, ec))
        if (entry.is_directory(ec) && !entry.is_symlink(ec)) _watchTree(entry.path().string());
}

bool ProjectWatcher::_drain()
{
    alignas(inotify_event) char buffer[16384];
    bool any = false;
    for (;;) {
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n <= 0) return any;
        for (ssize_t at = 0; at < n;) {
            const inotify_event* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + e->len);
            any = true;
            // A new folder is watched too (a folder of new assets).
            if ((e->mask & IN_ISDIR) != 0 && (e->mask & (IN_CREATE | IN_MOVED_TO)) != 0 && e->len > 0) {
                const auto folder = m_folders.find(e->wd);
                if (folder != m_folders.end()) _watchTree(folder->second + "/" + e->name);
            }
        }
    }
}

bool ProjectWatcher::WaitForChange(int quietMs, const std::atomic<bool>& stop)
{
    pollfd p = {m_fd, POLLIN, 0};
    bool changed = false;
    while (!stop.load()) {
        const int ready = poll(&p, 1, changed ? quietMs : 200);
        if (ready > 0) {
            changed = _drain() || changed;
        } else if (ready == 0 && changed) {
            return true;
        } else if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

ProjectFileTimes ProjectScanFiles(const std::string& folder)
{
    ProjectFileTimes times;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st;
        if (it->is_regular_file(ec) && stat(it->path().c_str(), &st) == 0)
            times[it->path().string()] = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return times;
}

std::vector<std::string> ProjectChangedFiles(const ProjectFileTimes& before, const ProjectFileTimes& after)
{
    std::vector<std::string> changed;
    for (const auto& [path, time] : after) {
        const auto old = before.find(path);
        if (old == before.end() || old->second != time) changed.push_back(path);
    }
    return changed;
}
