// Preloaded into the programs under the bench, before umockdev's preload. glibc's tcgetattr,
// tcsetattr, tcflush and tcdrain make their system calls directly, so umockdev never sees them
// and they would reach the pseudo-terminal behind the emulated node, which drops even parity.
// Here they become the ioctl() calls glibc makes, which umockdev hands to the bench. Nothing
// else changes: on any other descriptor umockdev passes the same ioctl to the kernel.
// umockdev 0.17 also never reports a close to the bench, so a close of a descriptor that saw
// tcsetattr (a serial port) first tells it with the request BENCH_RELEASE, as the tty layer
// tells the driver.
#define _GNU_SOURCE
#include <dlfcn.h>
#define IBAUD0 020000000000  // glibc's own flag: "input rate as output", never for the kernel
#include <asm/termbits.h>
#include <errno.h>
#include <string.h>
#include <sys/ioctl.h>

// <termios.h> and <asm/termbits.h> cannot meet in one file: glibc's struct, spelled out.
#define USER_NCCS 32
struct user_termios {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[USER_NCCS];
    speed_t c_ispeed, c_ospeed;
};

#define BENCH_RELEASE _IO('K', 0xB7)  // the same in line_settings.h
#define MAX_PORTS 16
static int ports[MAX_PORTS];
static int portCount;

static void notePort(int fd) {
    for (int i = 0; i < portCount; ++i)
        if (ports[i] == fd) return;
    if (portCount < MAX_PORTS) ports[portCount++] = fd;
}

int tcgetattr(int fd, struct user_termios* t) {
    struct termios k;
    if (ioctl(fd, TCGETS, &k) != 0) return -1;
    t->c_iflag = k.c_iflag;
    t->c_oflag = k.c_oflag;
    t->c_cflag = k.c_cflag;
    t->c_lflag = k.c_lflag;
    t->c_line = k.c_line;
    memset(t->c_cc, 0, sizeof t->c_cc);
    memcpy(t->c_cc, k.c_cc, NCCS);
    t->c_ospeed = k.c_cflag & (CBAUD | CBAUDEX);
    t->c_ispeed = (k.c_cflag & CIBAUD) ? (k.c_cflag & CIBAUD) >> IBSHIFT : t->c_ospeed;
    return 0;
}

int tcsetattr(int fd, int when, const struct user_termios* t) {
    unsigned long request;
    switch (when) {
    case 0: request = TCSETS; break;   // TCSANOW
    case 1: request = TCSETSW; break;  // TCSADRAIN
    case 2: request = TCSETSF; break;  // TCSAFLUSH
    default: errno = EINVAL; return -1;
    }
    struct termios k;
    memset(&k, 0, sizeof k);
    k.c_iflag = t->c_iflag & ~IBAUD0;
    k.c_oflag = t->c_oflag;
    k.c_cflag = t->c_cflag;
    k.c_lflag = t->c_lflag;
    k.c_line = t->c_line;
    memcpy(k.c_cc, t->c_cc, NCCS);
    int r = ioctl(fd, request, &k);
    if (r == 0) notePort(fd);
    return r;
}

int tcflush(int fd, int queue) { return ioctl(fd, TCFLSH, queue); }

int tcdrain(int fd) { return ioctl(fd, TCSBRK, 1); }

int close(int fd) {
    static int (*next)(int);
    if (!next) next = (int (*)(int))dlsym(RTLD_NEXT, "close");
    for (int i = 0; i < portCount; ++i) {
        if (ports[i] != fd) continue;
        ports[i] = ports[--portCount];
        int saved = errno;
        ioctl(fd, BENCH_RELEASE, 0);
        errno = saved;
        break;
    }
    return next(fd);
}
