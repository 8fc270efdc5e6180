#include "child_process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

void Complain(const std::string& message) {
    std::fprintf(stderr, "txsim: %s\n", message.c_str());
}

// Marks every descriptor above 2 close-on-exec. Async-signal-safe: runs
// between fork and exec.
void KeepDescriptorsFromCommand() {
    if (syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    // Kernels before 5.11: one descriptor at a time.
    rlimit limit{};
    const rlim_t last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                            ? limit.rlim_cur
                            : 65536;
    for (int fd = 3; static_cast<rlim_t>(fd) < last; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

}  // namespace

void SetPreload() {
    const char* current = std::getenv("LD_PRELOAD");
    std::string value = kPreload;
    if (current != nullptr && *current != '\0') {
        if (std::strstr(current, kPreload) != nullptr) return;
        value += ":";
        value += current;
    }
    setenv("LD_PRELOAD", value.c_str(), 1);
}

// The helper waits for the end of a pipe that only
// txsim holds open. It inherits txsim's blocked signals, so the signals that
// end txsim's process group leave it to its work.
void RemoveWhenGone(const std::string& dir) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t helper = fork();
    if (helper == 0) {
        // Only async-signal-safe calls until exec.
        close(fds[1]);
        char byte;
        while (read(fds[0], &byte, 1) < 0 && errno == EINTR) {
        }
        const char* const argv[] = {"rm", "-rf", "--", dir.c_str(), nullptr};
        execv("/bin/rm", const_cast<char* const*>(argv));
        _exit(0);
    }
    close(fds[0]);
    if (helper < 0) close(fds[1]);
    // Otherwise the write end stays open, and closes with txsim.
}

// The signals are taken with sigwaitinfo, so none is lost between fork and
// wait.
int RunCommand(char** command, const sigset_t& handled, const sigset_t& originalMask) {
    // The child reports a failed exec through this pipe; a successful exec
    // closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        Complain(std::string("cannot create pipe: ") + std::strerror(errno));
        return kExitSetup;
    }
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        Complain(std::string("cannot fork: ") + std::strerror(errno));
        close(report[0]);
        close(report[1]);
        return kExitSetup;
    }
    if (child == 0) {
        // Only async-signal-safe calls until exec: the parent has threads.
        close(report[0]);
        // The testbed's descriptors (terminals, sockets) stay with txsim.
        KeepDescriptorsFromCommand();
        // If txsim dies, so does the command: it would talk to nodes that
        // are gone.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(kExitNotRun);
        sigprocmask(SIG_SETMASK, &originalMask, nullptr);
        execvp(command[0], command);
        const int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof err);
        (void)ignored;
        _exit(kExitNotRun);
    }
    close(report[1]);

    int execErr = 0;
    ssize_t n;
    do {
        n = read(report[0], &execErr, sizeof execErr);
    } while (n < 0 && errno == EINTR);
    close(report[0]);

    int status = 0;
    for (;;) {
        const pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child) break;
        if (r < 0 && errno != EINTR) {
            Complain(std::string("cannot wait for the command: ") + std::strerror(errno));
            return kExitSetup;
        }
        siginfo_t info{};
        const int sig = sigwaitinfo(&handled, &info);
        // Signals sent to txsim are passed on. Those the terminal sends to
        // the whole process group (SI_KERNEL) have reached the command already.
        if (sig != SIGCHLD && sig > 0 && info.si_code != SI_KERNEL) kill(child, sig);
    }

    if (n == static_cast<ssize_t>(sizeof execErr)) {
        Complain(std::string("cannot run '") + command[0] + "': " + std::strerror(execErr));
        return kExitNotRun;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kExitSetup;
}

}  // namespace sim
