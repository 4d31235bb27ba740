// Usage: sandboxed COMMAND [ARG...]: runs COMMAND as a strict sandbox would,
// refusing memfd_create (ENOSYS) and opening with O_TMPFILE (EOPNOTSUPP).
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>

#if defined(__x86_64__)
constexpr unsigned native_arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned native_arch = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
constexpr unsigned native_arch = AUDIT_ARCH_ARM;
#elif defined(__riscv)
constexpr unsigned native_arch = AUDIT_ARCH_RISCV64;
#endif

int main(int argc, char **argv)
{
    // glibc opens every file with openat, its flags the third argument (the
    // low half on these little-endian machines).
    sock_filter rules[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, native_arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_memfd_create, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, __O_TMPFILE),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __O_TMPFILE, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
    };
    sock_fprog program{sizeof rules / sizeof rules[0], rules};
    if (argc < 2 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        perror("sandboxed");
        return 125;
    }
    execvp(argv[1], argv + 1);
    perror("sandboxed");
    return 127;
}
