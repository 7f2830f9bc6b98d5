/* The line channel: how a program started by tirv-run asks the service for what a pseudo-
 * terminal cannot carry (modem lines, break, data bits and parity) on one of its ports. Plain C,
 * shared by the service and the preload library that lives inside other programs.
 *
 * A SOCK_SEQPACKET Unix socket named TIRV_LINE_SOCKET in the port directory; the service
 * answers only processes of its own uid. Each request is one message of a tirv_line_request
 * and gets one message of a tirv_line_answer, in host byte order, which tells how the line
 * stands after the request. The port is named by its pty slave's device number.
 */
#pragma once

#include <stdint.h>
#include <termios.h>

#define TIRV_LINE_SOCKET ".tirv-line"
#define TIRV_LINE_VERSION 1
/* The c_cflag bits that make data bits and parity, which a pseudo-terminal does not keep. */
#define TIRV_LINE_FRAMING_FLAGS (CSIZE | PARENB | PARODD | CMSPAR)

enum tirv_line_op {
    /* Nothing changes; the answer tells how the line stands. */
    TIRV_LINE_STATE = 1,
    /* The lines in mask (TIOCM_DTR, TIOCM_RTS) take their state in value. */
    TIRV_LINE_MODEM = 2,
    /* Break on (value 1) or off (value 0). */
    TIRV_LINE_BREAK = 3,
    /* Data bits and parity, as the TIRV_LINE_FRAMING_FLAGS bits of a c_cflag. */
    TIRV_LINE_FRAMING = 4,
    /* Answered once one of the lines in mask (TIOCM_CTS, TIOCM_DSR, TIOCM_CD, TIOCM_RNG)
     * changed, or with EIO when the port goes away. */
    TIRV_LINE_WAIT = 5,
};

struct tirv_line_request
{
    uint8_t version;
    uint8_t op;
    uint16_t reserved;
    uint32_t value;
    uint32_t mask;
    uint32_t reserved2;
    uint64_t device;
};

struct tirv_line_answer
{
    uint8_t version;
    uint8_t op;
    /* 0, or an errno value: ENODEV when the device is none of the service's ports, EINVAL for
     * a request it does not understand, EIO when the port went away during a wait. */
    uint16_t error;
    /* TIOCM_DTR and TIOCM_RTS as set, TIOCM_CTS, TIOCM_DSR, TIOCM_CD and TIOCM_RNG as the
     * device reports them. */
    uint32_t modem;
    /* The data bits and parity set, as in TIRV_LINE_FRAMING. */
    uint32_t cflag;
    /* Changes of CTS, DSR, RI (to off) and CD so far, as TIOCGICOUNT counts them. */
    uint32_t counts[4];
};

#ifdef __cplusplus
static_assert(sizeof(tirv_line_request) == 24, "the request's size is part of the wire");
static_assert(sizeof(tirv_line_answer) == 28, "the answer's size is part of the wire");
#else
_Static_assert(sizeof(struct tirv_line_request) == 24, "the request's size is part of the wire");
_Static_assert(sizeof(struct tirv_line_answer) == 28, "the answer's size is part of the wire");
#endif
