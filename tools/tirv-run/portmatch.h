/* Which descriptors are TIRV ports: pty slaves of this user that a link in the port directory
 * leads to. Thread-safe and async-signal-safe; allocates nothing. */
#pragma once

#include <stdint.h>

/* Reads the port directory's place from the environment, as the service does. Called once,
 * when the library is loaded. */
void tirv_ports_setup(void);

/* 1 with the pty's device number when fd is a TIRV port, else 0. errno is kept. */
int tirv_port_device(int fd, uint64_t *device);

/* The line channel's socket path, or NULL when it cannot be named (the directory's path is too
 * long for a socket address). */
const char *tirv_line_socket_path(void);
