#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "errors.h"
#include "files/files.h"
#include "run/private_run.h"

extern char** environ;

namespace kvx {
namespace {

const char kFolderPrefix[] = "kvx-host-";
const char kLockName[] = "run.lock";

// Removes a folder and what is in it; links inside are removed, never followed.
void RemoveTree(const std::string& folder) {
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::string path = folder + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(path);
            else unlink(path.c_str());
        }
        closedir(dir);
    }
    rmdir(folder.c_str());
}

// A folder of an earlier run is left over when nobody holds its lock any more, or, without
// a lock file, when it is older than a minute (its run was killed before it made one).
bool LeftOver(const std::string& folder) {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
    const int fd = open((folder + "/" + kLockName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT && std::time(nullptr) - st.st_mtime > 60;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

void RemoveLeftOvers(const std::string& temp) {
    DIR* dir = opendir(temp.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, sizeof kFolderPrefix - 1, kFolderPrefix) != 0) continue;
        const std::string folder = temp + "/" + name;
        if (LeftOver(folder)) RemoveTree(folder);
    }
    closedir(dir);
}

std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    // The copy is started by its full path, whatever the current folder.
    char* full = realpath(folder.c_str(), nullptr);
    if (!full)
        throw RunError("the temporary folder " + folder + " cannot be used (" + SystemErrorText() +
                       "); set TMPDIR to a folder you can write");
    folder = full;
    std::free(full);
    return folder;
}

bool CopyProgram(const std::string& from, const std::string& to) {
    if (link(from.c_str(), to.c_str()) == 0) return true;  // same file system: no copy needed
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
    bool ok = in >= 0 && out >= 0;
    char block[65536];
    ssize_t n;
    while (ok && (n = read(in, block, sizeof block)) != 0) ok = n > 0 && write(out, block, static_cast<size_t>(n)) == n;
    if (in >= 0) close(in);
    if (out >= 0 && close(out) != 0) ok = false;
    return ok;
}

volatile sig_atomic_t g_copy = 0;
void PassOn(int signal) {
    if (g_copy > 0) kill(static_cast<pid_t>(g_copy), signal);
}

// Starts the copy, which gets SIGTERM (and so ends cleanly) when this program dies.
pid_t StartCopy(const std::string& program, const std::vector<std::string>& args, int& failure) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        failure = errno;
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(128 + SIGTERM);
        execve(program.c_str(), argv.data(), environ);
        const int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    failure = pid < 0 ? errno : 0;
    ssize_t got;
    while ((got = pid > 0 ? read(report[0], &failure, sizeof failure) : 0) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (pid > 0 && got > 0) {
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

int RunCopy(const std::string& folder, const std::string& program, const std::vector<std::string>& args) {
    setenv(kPrivateFolderVariable, folder.c_str(), 1);
    // With the machine-wide switch on, the plug-in keeps its file under XDG_CONFIG_HOME.
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    // Signals to this process are passed on to the copy (Ctrl+C reaches both anyway); either
    // way the copy ends first and the folder is removed.
    struct sigaction pass {};
    pass.sa_handler = PassOn;
    sigemptyset(&pass.sa_mask);
    for (int s : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaction(s, &pass, nullptr);
    int failure = 0;
    const pid_t pid = StartCopy(program, args, failure);
    if (pid < 0) {
        std::string message = "cannot start kvx-host's copy in " + folder + ": " + std::strerror(failure);
        if (failure == EACCES || failure == EPERM)
            message += "; the temporary folder may not allow running programs (mounted noexec): set TMPDIR "
                       "to a folder that does, e.g. TMPDIR=$HOME/.cache";
        throw RunError(message);
    }
    g_copy = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_copy = 0;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

// The private folder goes however the run ends (the copy's exit, a failure to start it).
struct RemovedAtEnd {
    const std::string& folder;
    ~RemovedAtEnd() { RemoveTree(folder); }
};

}  // namespace

bool PathIsInside(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size() + 1) return false;
    return path[folder.size()] == '/' && path.compare(0, folder.size(), folder) == 0;
}

std::string ThisProgramFile() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

int RunInPrivateFolder(const std::vector<std::string>& args) {
    const std::string temp = TemporaryFolder();
    RemoveLeftOvers(temp);
    std::string pattern = temp + "/" + kFolderPrefix + "XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw RunError("cannot create a private folder like " + pattern + ": " + SystemErrorText() +
                       "; check that TMPDIR names a folder you can write");
    const std::string folder = pattern, program = folder + "/kvx-host";
    RemovedAtEnd removed{folder};
    // Held until this program ends, however it ends: a folder whose lock is free is left over.
    // The lock file is locked under another name and only then given its own, so a run
    // starting beside this one never finds it unlocked and takes the folder for left over.
    const std::string lockPath = folder + "/" + kLockName, unnamed = lockPath + ".new";
    const int lock = open(unnamed.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0 || rename(unnamed.c_str(), lockPath.c_str()) != 0)
        throw RunError("cannot lock the private folder " + folder + ": " + SystemErrorText());
    const std::string self = ThisProgramFile();
    if (self.empty() || !CopyProgram(self, program))
        throw RunError("cannot place a copy of kvx-host in " + folder + ": " + SystemErrorText());
    const int code = RunCopy(folder, program, args);
    close(lock);
    return code;
}

}  // namespace kvx
