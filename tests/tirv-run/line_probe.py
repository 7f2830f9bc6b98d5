# What a program sees of a port's modem lines, data bits and parity, from another process and
# several threads too, and of a pty that is no port. Pauses for a line on standard input once
# it has set DTR on, RTS off and 7E1.
import fcntl
import os
import struct
import sys
import termios
import threading


def modem(fd):
    try:
        return hex(struct.unpack("i", fcntl.ioctl(fd, termios.TIOCMGET, bytes(4)))[0])
    except OSError as error:
        return "errno %d" % error.errno


def set_7e1(fd):
    attributes = termios.tcgetattr(fd)
    attributes[2] = (attributes[2] & ~(termios.CSIZE | termios.PARODD)) | termios.CS7 | termios.PARENB
    try:
        termios.tcsetattr(fd, termios.TCSANOW, attributes)
    except termios.error as error:
        return "errno %d" % error.args[0]
    cflag = termios.tcgetattr(fd)[2]
    return "cs7" if cflag & termios.CSIZE == termios.CS7 else "cs8"


def clear_rts(fd):
    try:
        fcntl.ioctl(fd, termios.TIOCMBIC, struct.pack("i", termios.TIOCM_RTS))
    except OSError:
        pass


def from_threads(fd):
    seen = []
    threads = [threading.Thread(target=lambda: seen.extend(modem(fd) for _ in range(50)))
               for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return "same" if len(set(seen)) == 1 and len(seen) == 200 else "differ"


fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
print("open", modem(fd), flush=True)
clear_rts(fd)
print("set", modem(fd), set_7e1(fd), flush=True)
sys.stdin.readline()
child = os.fork()
if child == 0:
    print("child", modem(fd), flush=True)
    os._exit(0)
os.waitpid(child, 0)
print("threads", from_threads(fd), flush=True)
master, slave = os.openpty()
print("pty", modem(slave), set_7e1(slave), flush=True)
