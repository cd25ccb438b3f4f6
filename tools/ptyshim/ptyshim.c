/*
 * LD_PRELOAD shim for a wine process whose COM ports are Linux pseudo-terminals
 * (the reader simulator links ptys into the prefix as comN).
 *
 * A pty has no modem lines, so TIOCMGET/TIOCMSET/TIOCMBIS/TIOCMBIC fail on it
 * with ENOTTY (EINVAL on older kernels). Wine's serial layer asks for the modem
 * status while it waits for comm events, and an overlapped WaitCommEvent then
 * fails instead of waiting. Here those four requests succeed on a pty: the
 * status reads CTS, DSR and CD as on, and DTR/RTS read back as last set.
 * Everything else, and every request on anything that is not a pty slave, goes
 * to the real ioctl unchanged; a request that the real ioctl serves is never
 * emulated.
 *
 * Build with the host compiler: cc -shared -fPIC -o libptyshim.so ptyshim.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <termios.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* DTR/RTS as last set, per pty (keyed by device number, so they survive the
   port being closed and opened again as they would on a real UART). */
#define MAX_PTYS 64
static struct { dev_t dev; int lines; } pty_lines[MAX_PTYS];
static int pty_count;
static pthread_mutex_t pty_lock = PTHREAD_MUTEX_INITIALIZER;

static ioctl_fn real_ioctl(void)
{
    static ioctl_fn fn;
    ioctl_fn f = __atomic_load_n(&fn, __ATOMIC_ACQUIRE);
    if (!f) {
        f = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
        __atomic_store_n(&fn, f, __ATOMIC_RELEASE);
    }
    return f;
}

/* Unix98 pty slaves have the majors 136-143. */
static int pty_device(int fd, dev_t *dev)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    if (major(st.st_rdev) < 136 || major(st.st_rdev) > 143)
        return 0;
    *dev = st.st_rdev;
    return 1;
}

/* Slot of the pty's line state; a new pty starts with DTR and RTS raised.
   Called with pty_lock held. When the table is full the oldest slot is reused. */
static int *lines_of(dev_t dev)
{
    int i;
    for (i = 0; i < pty_count; ++i)
        if (pty_lines[i].dev == dev)
            return &pty_lines[i].lines;
    if (pty_count < MAX_PTYS)
        i = pty_count++;
    else
        i = (int)(dev % MAX_PTYS);
    pty_lines[i].dev = dev;
    pty_lines[i].lines = TIOCM_DTR | TIOCM_RTS;
    return &pty_lines[i].lines;
}

static int emulate(unsigned long request, int *arg, dev_t dev)
{
    const int settable = TIOCM_DTR | TIOCM_RTS;
    int *lines;
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    pthread_mutex_lock(&pty_lock);
    lines = lines_of(dev);
    switch (request) {
    case TIOCMGET: *arg = *lines | TIOCM_CTS | TIOCM_DSR | TIOCM_CD; break;
    case TIOCMSET: *lines = *arg & settable; break;
    case TIOCMBIS: *lines |= *arg & settable; break;
    case TIOCMBIC: *lines &= ~(*arg & settable); break;
    }
    pthread_mutex_unlock(&pty_lock);
    return 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    void *arg;
    int rc, err;
    dev_t dev;
    ioctl_fn real = real_ioctl();

    va_start(ap, request);
    arg = va_arg(ap, void *);
    va_end(ap);

    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    rc = real(fd, request, arg);
    if (rc == 0 || (errno != ENOTTY && errno != EINVAL))
        return rc;
    if (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS &&
        request != TIOCMBIC)
        return rc;
    err = errno;
    if (!pty_device(fd, &dev)) {
        errno = err;
        return rc;
    }
    return emulate(request, (int *)arg, dev);
}
