/* The library tirv-run preloads. On descriptors that are TIRV ports it carries what a pseudo-
 * terminal cannot carry to the service: DTR and RTS, break, data bits and parity, and reads of
 * the modem lines. Every other call, and every call when the service cannot be asked, is the
 * real one with its own result.
 *
 * glibc's tcsetattr, tcgetattr and tcsendbreak reach the kernel without going through ioctl,
 * so they are caught beside it. */
#define _GNU_SOURCE
#include "lineclient.h"
#include "portmatch.h"

#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define EXPORTED __attribute__((visibility("default")))

/* The kernel's termios2, which glibc does not declare; TCGETS2 and TCSETS2 take its size. */
struct termios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

/* The lines a program may set. */
static const uint32_t settable_lines = TIOCM_DTR | TIOCM_RTS;
/* A break of the kernel's own length, and its step for TCSBRKP. */
static const unsigned long break_ms = 250;
static const unsigned long break_step_ms = 100;

typedef int (*ioctl_function)(int, unsigned long, ...);

static ioctl_function real_ioctl;
static int (*real_tcgetattr)(int, struct termios *);
static int (*real_tcsetattr)(int, int, const struct termios *);
static int (*real_tcsendbreak)(int, int);

/* Resolved when the library loads; a call before that (from another library's constructor)
 * resolves what it needs itself. */
static void *real(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

__attribute__((constructor)) static void setup(void)
{
    real_ioctl = (ioctl_function)real("ioctl");
    real_tcgetattr = real("tcgetattr");
    real_tcsetattr = real("tcsetattr");
    real_tcsendbreak = real("tcsendbreak");
    tirv_ports_setup();
}

/* The c_cflag of a termios, whether glibc's or one of the kernel's: it is the third field of
 * each. */
static tcflag_t *cflag_of(void *attributes)
{
    return (tcflag_t *)((char *)attributes + offsetof(struct termios, c_cflag));
}

/* TIRV_ASK_UNREACHABLE too when fd is no port. */
static enum tirv_ask_result send_framing(int fd, tcflag_t cflag)
{
    uint64_t device;
    struct tirv_line_answer answer;
    if (!tirv_port_device(fd, &device))
        return TIRV_ASK_UNREACHABLE;
    return tirv_line_ask(device, TIRV_LINE_FRAMING, cflag & TIRV_LINE_FRAMING_FLAGS, 0, &answer);
}

/* Data bits and parity read back as they were set. */
static void read_framing(int fd, tcflag_t *cflag)
{
    uint64_t device;
    struct tirv_line_answer answer;
    if (tirv_port_device(fd, &device)
        && tirv_line_ask(device, TIRV_LINE_STATE, 0, 0, &answer) == TIRV_ASK_DONE)
        *cflag = (*cflag & ~TIRV_LINE_FRAMING_FLAGS) | (answer.cflag & TIRV_LINE_FRAMING_FLAGS);
}

static void pause_ms(unsigned long ms)
{
    struct timespec rest = { (time_t)(ms / 1000), (long)(ms % 1000) * 1000000L };
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) { }
}

/* The program waits out the break, as on a serial line. */
static void timed_break(int fd, unsigned long ms)
{
    uint64_t device;
    struct tirv_line_answer answer;
    const int saved = errno;
    if (tirv_port_device(fd, &device)
        && tirv_line_ask(device, TIRV_LINE_BREAK, 1, 0, &answer) == TIRV_ASK_DONE) {
        pause_ms(ms);
        tirv_line_ask(device, TIRV_LINE_BREAK, 0, 0, &answer);
    }
    errno = saved;
}

static void fill_counts(
    struct serial_icounter_struct *counts, const struct tirv_line_answer *answer)
{
    memset(counts, 0, sizeof *counts);
    counts->cts = (int)answer->counts[0];
    counts->dsr = (int)answer->counts[1];
    counts->rng = (int)answer->counts[2];
    counts->dcd = (int)answer->counts[3];
}

/* The modem-line calls a pseudo-terminal refuses, asked of the service. */
static enum tirv_ask_result ask_modem(uint64_t device, unsigned int request, void *arg)
{
    struct tirv_line_answer answer;
    const uint32_t lines = request == TIOCMIWAIT || !arg ? 0 : *(const uint32_t *)arg;
    enum tirv_ask_result result;
    switch (request) {
    case TIOCMSET:
        return tirv_line_ask(device, TIRV_LINE_MODEM, lines, settable_lines, &answer);
    case TIOCMBIS:
        return tirv_line_ask(device, TIRV_LINE_MODEM, lines, lines & settable_lines, &answer);
    case TIOCMBIC:
        return tirv_line_ask(device, TIRV_LINE_MODEM, 0, lines & settable_lines, &answer);
    case TIOCMIWAIT:
        return tirv_line_ask(device, TIRV_LINE_WAIT, 0, (uint32_t)(unsigned long)arg, &answer);
    default:
        result = tirv_line_ask(device, TIRV_LINE_STATE, 0, 0, &answer);
        if (result == TIRV_ASK_DONE && request == TIOCMGET)
            *(int *)arg = (int)answer.modem;
        else if (result == TIRV_ASK_DONE)
            fill_counts(arg, &answer);
        return result;
    }
}

static int modem_call(ioctl_function call, int fd, unsigned int request, void *arg)
{
    uint64_t device;
    if (!tirv_port_device(fd, &device))
        return call(fd, request, arg);
    if (!arg && request != TIOCMIWAIT) {
        errno = EFAULT;
        return -1;
    }
    switch (ask_modem(device, request, arg)) {
    case TIRV_ASK_DONE:
        return 0;
    case TIRV_ASK_FAILED:
        return -1;
    default:
        return call(fd, request, arg);
    }
}

/* The pty drains the output first and accepts the break, doing nothing. */
static int break_call(ioctl_function call, int fd, unsigned int request, void *arg)
{
    const int result = call(fd, request, arg);
    const unsigned long value = (unsigned long)arg;
    uint64_t device;
    struct tirv_line_answer answer;
    if (result != 0)
        return result;
    if (request == TCSBRKP)
        timed_break(fd, value ? value * break_step_ms : break_ms);
    else if (request == TCSBRK && value == 0)
        timed_break(fd, break_ms);
    else if (request != TCSBRK && tirv_port_device(fd, &device))
        tirv_line_ask(device, TIRV_LINE_BREAK, request == TIOCSBRK, 0, &answer);
    return result;
}

static int port_ioctl(ioctl_function call, int fd, unsigned long request, void *arg)
{
    /* The kernel reads the request as 32 bits, so a sign-extended one is the same. */
    const unsigned int code = (unsigned int)request;
    int result;
    switch (code) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMIWAIT:
    case TIOCGICOUNT:
        return modem_call(call, fd, code, arg);
    case TIOCSBRK:
    case TIOCCBRK:
    case TCSBRK:
    case TCSBRKP:
        return break_call(call, fd, code, arg);
    case TCSETS:
    case TCSETSW:
    case TCSETSF:
    case TCSETS2:
    case TCSETSW2:
    case TCSETSF2:
        result = call(fd, request, arg);
        if (result == 0 && arg)
            send_framing(fd, *cflag_of(arg));
        return result;
    case TCGETS:
    case TCGETS2:
        result = call(fd, request, arg);
        if (result == 0 && arg)
            read_framing(fd, cflag_of(arg));
        return result;
    default:
        return call(fd, request, arg);
    }
}

static int kernel_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    return (int)syscall(SYS_ioctl, fd, request, arg);
}

EXPORTED int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    ioctl_function call = real_ioctl ? real_ioctl : kernel_ioctl;
    return port_ioctl(call, fd, request, arg);
}

#if defined(__TIMESIZE) && __TIMESIZE == 32
/* With 64-bit time on a 32-bit system, programs call this name instead. */
EXPORTED int __ioctl_time64(int fd, unsigned long request, ...)
{
    static ioctl_function real_ioctl_time64;
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (!real_ioctl_time64)
        real_ioctl_time64 = (ioctl_function)real("__ioctl_time64");
    return port_ioctl(real_ioctl_time64 ? real_ioctl_time64 : kernel_ioctl, fd, request, arg);
}
#endif

EXPORTED int tcgetattr(int fd, struct termios *attributes)
{
    if (!real_tcgetattr)
        real_tcgetattr = real("tcgetattr");
    const int result = real_tcgetattr(fd, attributes);
    if (result == 0)
        read_framing(fd, &attributes->c_cflag);
    return result;
}

/* glibc reads the attributes back and fails with EINVAL when the data bits or parity did not
 * take, though all else did: on a port they take in the service, and the pty is asked for what
 * it keeps. Without the service the call is left to fail as it would. */
EXPORTED int tcsetattr(int fd, int when, const struct termios *attributes)
{
    if (!real_tcsetattr)
        real_tcsetattr = real("tcsetattr");
    if (send_framing(fd, attributes->c_cflag) != TIRV_ASK_DONE)
        return real_tcsetattr(fd, when, attributes);
    struct termios kept = *attributes;
    kept.c_cflag = (kept.c_cflag & ~(CSIZE | PARENB)) | CS8;
    return real_tcsetattr(fd, when, &kept);
}

/* A duration of n > 0 is n quarter seconds, the unit serial libraries such as pyserial use. */
EXPORTED int tcsendbreak(int fd, int duration)
{
    if (!real_tcsendbreak)
        real_tcsendbreak = real("tcsendbreak");
    const int result = real_tcsendbreak(fd, duration);
    if (result == 0)
        timed_break(fd, duration > 0 ? (unsigned long)duration * break_ms : break_ms);
    return result;
}
