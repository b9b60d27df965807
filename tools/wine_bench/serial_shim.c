/* Preloaded (32-bit) into Wine under koral_wine_bench. A COM port that Wine maps to a
 * pseudo-terminal lacks what a serial port has: the modem lines (TIOCMGET fails, so Wine's
 * EscapeCommFunction and GetCommModemStatus fail) and parity (the kernel clears PARENB, so
 * SetCommState with even parity fails). Here both are kept per pseudo-terminal: the modem ioctls
 * are answered from the kept lines, tcsetattr records the parity and byte size asked for and
 * passes 8 bits without parity on, tcgetattr gives them back. Every change goes to the bench over
 * its socket, which first takes in the bytes already written, so changes and bytes reach the
 * instrument in order, and so do a port's opening (its descriptor's first use) and last close.
 * Wine's i386 ntdll calls __ioctl_time64, not ioctl: both are covered. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include "tools/wine_bench/line_event.h"

#define KEPT_BITS (PARENB | PARODD | CMSPAR | CSIZE | CSTOPB)
#define MAX_PORTS 8

struct Port {
    dev_t device;
    int modem;
    tcflag_t keptCflag;
    struct KoralLineEvent told;
    int toldOnce;
};

static struct Port ports[MAX_PORTS];
static int portCount;
static struct {
    int fd;
    struct Port* port;
} opened[MAX_PORTS * 4];  /* the descriptors this process has used a port through */
static int openedCount;
static int benchSocket = -1;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

/* Major numbers 136-143: Unix98 pseudo-terminal slaves. */
static struct Port* portOf(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) < 136 || major(st.st_rdev) > 143) return NULL;
    for (int i = 0; i < portCount; ++i)
        if (ports[i].device == st.st_rdev) return &ports[i];
    if (portCount == MAX_PORTS) return NULL;
    struct Port* p = &ports[portCount++];
    memset(p, 0, sizeof *p);
    p->device = st.st_rdev;
    p->modem = TIOCM_DTR | TIOCM_RTS;  /* a driver raises both on open */
    p->keptCflag = CS8;
    return p;
}

/* Our own descriptors close past the hook below, which takes the lock. */
static int realClose(int fd) {
    static int (*next)(int);
    if (!next) next = (int (*)(int))dlsym(RTLD_NEXT, "close");
    return next(fd);
}

static void sendAll(const void* data, size_t size) {
    const char* at = data;
    while (size > 0) {
        ssize_t n = send(benchSocket, at, size, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            realClose(benchSocket);
            benchSocket = -1;
            return;
        }
        at += n, size -= (size_t)n;
    }
}

/* Tells the bench what changed and waits until it has acted. Expects the lock held. */
static void tell(struct Port* p, int fd) {
    static int (*realGet)(int, struct termios*);
    if (!realGet) realGet = (int (*)(int, struct termios*))dlsym(RTLD_NEXT, "tcgetattr");
    struct termios t;
    if (realGet(fd, &t) != 0) return;
    struct KoralLineEvent e;
    e.iflag = t.c_iflag;
    e.cflag = (t.c_cflag & ~KEPT_BITS) | p->keptCflag;
    e.modem = (uint32_t)p->modem;
    if (p->toldOnce && memcmp(&e, &p->told, sizeof e) == 0) return;  /* Wine repeats itself */
    p->told = e;
    p->toldOnce = 1;
    const char* path = getenv(KORAL_WINE_SOCKET_ENV);
    if (benchSocket < 0 && path) {
        struct sockaddr_un address;
        memset(&address, 0, sizeof address);
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path, sizeof address.sun_path - 1);
        benchSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (benchSocket >= 0 && connect(benchSocket, (struct sockaddr*)&address, sizeof address) != 0) {
            realClose(benchSocket);
            benchSocket = -1;
        }
    }
    if (benchSocket < 0) return;
    sendAll(&e, sizeof e);
    char answer;
    while (benchSocket >= 0 && recv(benchSocket, &answer, 1, 0) < 0 && errno == EINTR) {
    }
}

/* A descriptor's first use is the port's opening, which raises DTR and RTS as a driver does;
 * Wine opens the device in its server, and keeps the descriptor until CloseHandle. Expects the
 * lock held. */
static struct Port* usedPort(int fd) {
    struct Port* p = portOf(fd);
    if (!p) return NULL;
    for (int i = 0; i < openedCount; ++i)
        if (opened[i].fd == fd) return p;
    if (openedCount < (int)(sizeof opened / sizeof opened[0])) {
        opened[openedCount].fd = fd;
        opened[openedCount++].port = p;
    }
    p->modem = TIOCM_DTR | TIOCM_RTS;
    tell(p, fd);
    return p;
}

/* The modem requests on a pseudo-terminal; -2 when the request is not one of ours. */
static int modemIoctl(int fd, unsigned long request, void* arg) {
    if (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS && request != TIOCMBIC) return -2;
    pthread_mutex_lock(&lock);
    struct Port* p = usedPort(fd);
    if (!p) {
        pthread_mutex_unlock(&lock);
        return -2;
    }
    int bits = arg ? *(int*)arg : 0;
    bits &= TIOCM_DTR | TIOCM_RTS;
    switch (request) {
    case TIOCMGET: *(int*)arg = p->modem | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR; break;
    case TIOCMSET: p->modem = bits; break;
    case TIOCMBIS: p->modem |= bits; break;
    case TIOCMBIC: p->modem &= ~bits; break;
    }
    if (request != TIOCMGET) tell(p, fd);
    pthread_mutex_unlock(&lock);
    return 0;
}

static int forward(const char* name, int fd, unsigned long request, void* arg) {
    int (*next)(int, unsigned long, ...) = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, name);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, request, arg);
}

/* Both entry points: the modem requests on a pseudo-terminal are ours, the rest go on. */
#define HOOK(name)                                                   \
    int name(int fd, unsigned long request, ...) {                   \
        va_list args;                                                \
        va_start(args, request);                                     \
        void* arg = va_arg(args, void*);                             \
        va_end(args);                                                \
        int r = modemIoctl(fd, request, arg);                        \
        return r != -2 ? r : forward(#name, fd, request, arg);       \
    }
HOOK(ioctl)
HOOK(__ioctl_time64)

int tcsetattr(int fd, int when, const struct termios* t) {
    static int (*next)(int, int, const struct termios*);
    if (!next) next = (int (*)(int, int, const struct termios*))dlsym(RTLD_NEXT, "tcsetattr");
    pthread_mutex_lock(&lock);
    struct Port* p = usedPort(fd);
    int r;
    if (!p) {
        r = next(fd, when, t);
    } else {
        struct termios plain = *t;
        plain.c_cflag = (plain.c_cflag & ~KEPT_BITS) | CS8;
        r = next(fd, when, &plain);
        if (r == 0) {
            p->keptCflag = t->c_cflag & KEPT_BITS;
            tell(p, fd);
        }
    }
    pthread_mutex_unlock(&lock);
    return r;
}

int tcgetattr(int fd, struct termios* t) {
    static int (*next)(int, struct termios*);
    if (!next) next = (int (*)(int, struct termios*))dlsym(RTLD_NEXT, "tcgetattr");
    int r = next(fd, t);
    if (r != 0) return r;
    pthread_mutex_lock(&lock);
    struct Port* p = usedPort(fd);
    if (p) t->c_cflag = (t->c_cflag & ~KEPT_BITS) | p->keptCflag;
    pthread_mutex_unlock(&lock);
    return r;
}

/* The last close of a port: the driver drops DTR and RTS (HUPCL), which holds the part in reset. */
int close(int fd) {
    pthread_mutex_lock(&lock);
    for (int i = 0; i < openedCount; ++i) {
        if (opened[i].fd != fd) continue;
        struct Port* p = opened[i].port;
        opened[i] = opened[--openedCount];
        int last = 1;
        for (int j = 0; j < openedCount; ++j) last = last && opened[j].port != p;
        if (last) {
            int saved = errno;
            p->modem = 0;
            tell(p, fd);
            errno = saved;
        }
        break;
    }
    pthread_mutex_unlock(&lock);
    return realClose(fd);
}
