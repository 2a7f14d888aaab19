// launcher [--no-close-range] [--close-stdin] PROGRAM [ARGS...]: runs PROGRAM as an unusual
// system would start it: under a seccomp filter that refuses close_range() as a kernel before 5.9
// does (ENOSYS), or with its standard input closed.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

bool refuseCloseRange() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_close_range, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (std::strcmp(argv[first], "--no-close-range") == 0) {
            if (!refuseCloseRange()) {
                std::perror("launcher: seccomp");
                return 126;
            }
        } else if (std::strcmp(argv[first], "--close-stdin") == 0) {
            close(0);
        }
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: launcher [--no-close-range] [--close-stdin] PROGRAM\n");
        return 2;
    }
    execv(argv[first], argv + first);
    std::perror("launcher: exec");
    return 127;
}
