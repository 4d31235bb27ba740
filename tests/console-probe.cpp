// Usage: console-probe TTY [MODE]: prints how a virtual terminal treats its
// keyboard and its switching, "KEYBOARD VT_MODE ACTIVE_VT" (unicode auto 1),
// having first set the keyboard to MODE, if given.
#include <fcntl.h>
#include <linux/kd.h>
#include <linux/vt.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    // Indexed by K_RAW, K_XLATE, K_MEDIUMRAW, K_UNICODE and K_OFF.
    const char *const modes[] = {"raw", "xlate", "mediumraw", "unicode", "off"};
    const int tty = argc > 1 ? open(argv[1], O_RDONLY | O_NOCTTY) : -1;
    for (int mode = 0; argc > 2 && mode <= K_OFF; ++mode) {
        if (strcmp(argv[2], modes[mode]) == 0) {
            ioctl(tty, KDSKBMODE, mode);
        }
    }
    int keyboard = -1;
    vt_mode switching{};
    vt_stat state{};
    if (ioctl(tty, KDGKBMODE, &keyboard) != 0 || ioctl(tty, VT_GETMODE, &switching) != 0 ||
        ioctl(tty, VT_GETSTATE, &state) != 0 || keyboard < 0 || keyboard > K_OFF) {
        perror("console-probe");
        return 1;
    }
    printf("%s %s %d\n", modes[keyboard], switching.mode == VT_AUTO ? "auto" : "process", state.v_active);
}
