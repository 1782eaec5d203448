// Runs a command and writes what it cost, from the kernel's account of
// the ended process, as one line into a file:
//   wall_s user_s sys_s peak_resident_kB exit_status
// with microsecond resolution (GNU time prints CPU seconds to 1/100 only).
// The wall time is read on this program's own monotonic clock, so a
// command started through `env LD_PRELOAD=...libfaketime...` has its real
// duration measured.
//   build/measure OUTPUT-FILE COMMAND [ARGUMENTS...]
// Exits with the command's status (128 + signal when it was killed).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s OUTPUT-FILE COMMAND [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    const double start = monotonicSeconds();
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        fprintf(stderr, "%s: cannot run %s: %s\n", argv[0], argv[2], strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            perror("wait4");
            return 2;
        }
    }
    const double wall = monotonicSeconds() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FILE* output = fopen(argv[1], "w");
    if (output == nullptr) {
        perror(argv[1]);
        return 2;
    }
    fprintf(output, "%.6f %.6f %.6f %ld %d\n", wall, seconds(usage.ru_utime),
            seconds(usage.ru_stime), usage.ru_maxrss, code);
    fclose(output);
    return code;
}
