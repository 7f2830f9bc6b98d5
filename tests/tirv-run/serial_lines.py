# What a program gets of a port's lines through pyserial: each step prints "<step> <result>"
# or "<step> error <errno>", and a failed step does not stop the next.
import fcntl
import struct
import sys
import termios
import threading
import time

import serial

TIOCMIWAIT = 0x545C
TIOCGICOUNT = 0x545D
# struct serial_icounter_struct: cts, dsr, rng, dcd, then 16 more ints.
ICOUNTER_SIZE = 20 * 4


def code(error):
    if isinstance(error, OSError) and error.errno:
        return error.errno
    if error.args and isinstance(error.args[0], int):
        return error.args[0]
    return type(error).__name__


def step(name, action):
    try:
        result = action()
        print(name, "ok" if result is None else result, flush=True)
    except (OSError, termios.error, serial.SerialException) as error:
        print(name, "error", code(error), flush=True)


def framing(fd):
    cflag = termios.tcgetattr(fd)[2]
    size = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "N" if not cflag & termios.PARENB else "O" if cflag & termios.PARODD else "E"
    return "%d%s" % (size, parity)


def set_lines():
    port.dtr = False
    port.rts = False


def set_7e1():
    port.bytesize = 7
    port.parity = "E"
    return framing(port.fd)


def send_break():
    start = time.monotonic()
    port.send_break(0.25)
    return "ok" if time.monotonic() - start >= 0.24 else "short"


def wait_until_cts_off():
    deadline = time.monotonic() + 3
    while port.cts and time.monotonic() < deadline:
        time.sleep(0.01)
    return "on" if port.cts else "off"


# The device ties CTS to RTS: RTS flips until the wait for a change of CTS returns.
def wait_for_cts():
    outcome = []

    def waiter():
        try:
            fcntl.ioctl(port.fd, TIOCMIWAIT, termios.TIOCM_CTS)
            outcome.append(None)
        except OSError as error:
            outcome.append(error)

    thread = threading.Thread(target=waiter, daemon=True)
    thread.start()
    deadline = time.monotonic() + 5
    while thread.is_alive() and time.monotonic() < deadline:
        port.rts = not port.rts
        thread.join(0.05)
    if not outcome:
        return "timeout"
    if outcome[0]:
        raise outcome[0]
    counts = struct.unpack("20i", fcntl.ioctl(port.fd, TIOCGICOUNT, bytes(ICOUNTER_SIZE)))
    return "ok" if counts[0] > 0 else "uncounted"


port = serial.Serial(sys.argv[1], 9600, timeout=2)
print("open ok", flush=True)
step("io", lambda: "ok" if port.write(b"ping") == 4 and port.read(4) == b"ping" else "lost")
step("lines", set_lines)
step("settings", set_7e1)
step("break", send_break)
step("cts", wait_until_cts_off)
step("wait", wait_for_cts)
port.close()
