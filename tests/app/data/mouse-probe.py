# A program that asks for the mouse, for the window tests: it writes the cell size, then the
# first click in pixels (SGR pixel mode), then the next one in cells (SGR), to the file named
# by its argument.
import os, sys, termios, tty
out = sys.argv[1]
fd = sys.stdin.fileno()
saved = termios.tcgetattr(fd)
tty.setraw(fd)
def say(line):
    with open(out, 'a') as f:
        f.write(line + '\n')
def read_until(end):
    data = b''
    while not data.endswith(end):
        data += os.read(fd, 1)
    return data
def report():
    data = read_until(b'<')
    while data[-1:] not in (b'M', b'm'):
        data += os.read(fd, 1)
    return data[data.rindex(b'\x1b') + 1:].decode()
try:
    os.write(1, b'\x1b[16t')
    reply = read_until(b't').decode()
    h, w = reply[reply.rindex('[') + 1:-1].split(';')[1:3]
    say('cell %s %s' % (h, w))
    os.write(1, b'\x1b[?1000h\x1b[?1016h')
    say('pixels')
    say('P ' + report())
    report()
    os.write(1, b'\x1b[?1016l\x1b[?1006h')
    say('cells')
    say('C ' + report())
    report()
finally:
    os.write(1, b'\x1b[?1000l\x1b[?1006l\x1b[?1016l')
    termios.tcsetattr(fd, termios.TCSADRAIN, saved)
    say('done')
