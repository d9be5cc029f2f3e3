#include "support/ChildProcess.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace korvanta::test {

int runInChild(const std::function<int()>& check, unsigned seconds) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return 201;
    if (pid == 0) {
        ::alarm(seconds);
        ::_exit(check());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return 201;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 201;
}

namespace {

bool writeProcFile(const char* path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return out.good();
}

bool failed(std::string* why, const std::string& what) {
    if (why) *why = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool mountPrivateSmallDisk(const std::filesystem::path& folder, size_t bytes, std::string* why) {
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0) return failed(why, "no mount namespace");
    } else {
        // A user namespace in which this user is root, and a mount namespace owned by it.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return failed(why, "no user namespace");
        if (!writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return failed(why, "no identity in the user namespace");
        }
    }
    // Mounts made from here on must not spread to the rest of the system.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return failed(why, "mounts cannot be made private");
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        return failed(why, "no memory file system at " + folder.string());
    }
    return true;
}

}  // namespace korvanta::test
