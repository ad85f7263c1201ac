#pragma once
// Watching a project for lumivor build --watch: inotify watches on every
// folder of the project (the build folder left out, so that writing outputs
// does not wake the watcher), and the modification times of the output tree,
// whose difference across a build names the outputs that changed.
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class ProjectWatcher {
public:
    ProjectWatcher() = default;
    ~ProjectWatcher();
    ProjectWatcher(const ProjectWatcher&) = delete;
    ProjectWatcher& operator=(const ProjectWatcher&) = delete;

    // Watches `project` and its sub-folders except `skip`; false with a
    // message when inotify refuses.
    bool Start(const std::string& project, const std::string& skip, std::string* error);
    // Blocks until a file changes, then until the changes have been quiet for
    // `quietMs` (an editor's save is several events); false when `stop` was
    // set first (checked a few times a second).
    bool WaitForChange(int quietMs, const std::atomic<bool>& stop);

private:
    void _watchTree(const std::string& folder);
    bool _drain();   // reads pending events; true when any came

    int m_fd = -1;
    std::string m_skip;
    std::map<int, std::string> m_folders;   // watch descriptor -> folder
};

// Modification times (nanoseconds) of every file under `folder`, by path.
using ProjectFileTimes = std::map<std::string, int64_t>;
ProjectFileTimes ProjectScanFiles(const std::string& folder);
// The files of `after` that are new or newer than in `before`, sorted.
std::vector<std::string> ProjectChangedFiles(const ProjectFileTimes& before, const ProjectFileTimes& after);
