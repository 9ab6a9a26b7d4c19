#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "console/console_text.h"
#include "console/stop_signal.h"
#include "errors.h"
#include "files/files.h"
#include "run/private_run.h"

extern char** environ;

namespace kvx {
namespace {

const char kFolderPrefix[] = "kvx-host-";
const char kLockName[] = "run.lock";

// Removes a folder and what is in it; links inside are removed, never followed. `last`, a
// name in the folder, goes only once all else has: a run's folder that cannot be removed
// whole keeps its marked lock file, so that a later run still knows it and removes it.
bool RemoveTree(const std::string& folder, const char* last = nullptr) {
    bool gone = true;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == ".." || (last && name == last)) continue;
            std::string path = folder + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) gone = RemoveTree(path) && gone;
            else gone = unlink(path.c_str()) == 0 && gone;
        }
        closedir(dir);
    }
    if (gone && last) unlink((folder + "/" + last).c_str());
    return gone && rmdir(folder.c_str()) == 0;
}

// The lock of a folder an earlier run left (see run/private_run.h), taken; -1 when `name`
// is no such folder: not the user's own and closed to others, without the marker, or in
// use by a live run. Opened without following links and without waiting, so a look at a
// user's folder does nothing to it.
int LockOfLeftOver(int temp, const char* name) {
    const int folder = openat(temp, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return -1;
    struct stat st;
    const bool closed = fstat(folder, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
    const int lock = closed ? openat(folder, kLockName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
    close(folder);
    if (lock < 0) return -1;
    const ssize_t size = sizeof kRunMarker - 1;
    char text[sizeof kRunMarker];
    const bool marked = fstat(lock, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1 &&
                        st.st_size == size && read(lock, text, sizeof text) == size &&
                        std::memcmp(text, kRunMarker, size) == 0;
    if (marked && flock(lock, LOCK_EX | LOCK_NB) == 0) return lock;
    close(lock);
    return -1;
}

void RemoveLeftOvers(const std::string& temp) {
    DIR* dir = opendir(temp.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, sizeof kFolderPrefix - 1, kFolderPrefix) != 0) continue;
        // Held while the folder goes, so no other run starting now takes it for its own.
        const int lock = LockOfLeftOver(dirfd(dir), name.c_str());
        if (lock < 0) continue;
        RemoveTree(temp + "/" + name, kLockName);
        close(lock);
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

volatile sig_atomic_t g_copy = 0, g_stop = 0, g_ended = 0;  // g_stop: the first stop signal
void PassOn(int signal) {
    if (g_copy > 0) kill(static_cast<pid_t>(g_copy), signal);
    if (g_stop) return;
    g_stop = signal;
    itimerval grace{{0, 0}, {kCopyGraceMs / 1000, kCopyGraceMs % 1000 * 1000}};
    setitimer(ITIMER_REAL, &grace, nullptr);
}
// A copy still running after its grace is killed; the programs it started die with it.
void EndCopy(int) {
    if (g_copy > 0) g_ended = kill(static_cast<pid_t>(g_copy), SIGKILL) == 0;
}

// Starts the copy, which gets SIGTERM (and so ends cleanly) when this program dies. It
// inherits the folder's `lock`, so the folder stays in use for as long as the copy lives.
pid_t StartCopy(const std::string& program, const std::vector<std::string>& args, int lock, int& failure) {
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
        fcntl(lock, F_SETFD, 0);
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

int RunCopy(const std::string& folder, const std::string& program, const std::vector<std::string>& args, int lock) {
    setenv(kPrivateFolderVariable, folder.c_str(), 1);
    // With the machine-wide switch on, the plug-in keeps its file under XDG_CONFIG_HOME.
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    // Signals to this process are passed on to the copy (Ctrl+C reaches both anyway); either
    // way the copy ends first and the folder is removed.
    struct sigaction pass {};
    pass.sa_handler = PassOn;
    sigemptyset(&pass.sa_mask);
    for (int s : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaction(s, &pass, nullptr);
    struct sigaction end {};
    end.sa_handler = EndCopy;
    sigemptyset(&end.sa_mask);
    sigaction(SIGALRM, &end, nullptr);
    int failure = 0;
    const pid_t pid = StartCopy(program, args, lock, failure);
    if (pid < 0) {
        std::string message = "cannot start kvx-host's copy in " + folder + ": " + std::strerror(failure);
        if (failure == EACCES || failure == EPERM)
            message += "; the temporary folder may not allow running programs (mounted noexec): set TMPDIR "
                       "to a folder that does, e.g. TMPDIR=$HOME/.cache";
        throw RunError(message);
    }
    g_copy = pid;
    if (g_stop) kill(pid, g_stop);  // a stop that came while the copy was being started
    // Reaped only once EndCopy can no longer take its id for another program's.
    siginfo_t ended;
    while (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    g_copy = 0;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (g_ended) {  // ended after a stop: the copy could not say so itself
        PrintText(stderr, "kvx-host: %s\n", kInterrupted);
        return kCopyExitBase + 1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

// The private folder goes however the run ends (the copy's exit, a failure to start it).
struct RemovedAtEnd {
    const std::string& folder;
    ~RemovedAtEnd() { RemoveTree(folder, kLockName); }
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
    // Held until this program and its copy end, however they end: a folder whose lock is
    // free is left over. The lock file is locked and marked under another name and only then
    // given its own, so a run starting beside this one never finds it unlocked and takes the
    // folder for left over.
    const std::string lockPath = folder + "/" + kLockName, unnamed = lockPath + ".new";
    const int lock = open(unnamed.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const ssize_t marker = sizeof kRunMarker - 1;
    if (lock < 0 || flock(lock, LOCK_EX) != 0 || write(lock, kRunMarker, marker) != marker ||
        rename(unnamed.c_str(), lockPath.c_str()) != 0)
        throw RunError("cannot lock the private folder " + folder + ": " + SystemErrorText());
    const std::string self = ThisProgramFile();
    if (self.empty() || !CopyProgram(self, program))
        throw RunError("cannot place a copy of kvx-host in " + folder + ": " + SystemErrorText());
    const int code = RunCopy(folder, program, args, lock);
    close(lock);
    return code;
}

}  // namespace kvx
