"""What a serial line does between two ends whose speeds differ.

A UART that receives at the wrong speed still sees start bits, samples the
other side's bits at its own rate and hands up whatever it assembled, framing
errors and all. `resample` models exactly that for 8N1 characters, so a reader
at 115200 Bd that is spoken to at 9600 Bd hears noise (and ignores it), and the
engine hears noise from it: the speed probe of the engine is then tested against
the same kind of line it meets in the field.
"""

import bisect
import termios

_RATES = (50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600,
          19200, 38400, 57600, 115200, 230400, 460800, 500000, 576000, 921600,
          1000000, 1152000, 1500000, 2000000)
BAUD_OF_CONSTANT = {getattr(termios, "B%d" % r): r for r in _RATES
                    if hasattr(termios, "B%d" % r)}
CONSTANT_OF_BAUD = {r: c for c, r in BAUD_OF_CONSTANT.items()}


def termios_baud(attrs):
    """Baud rate set in a tcgetattr list (output speed); 0 for hang-up or unknown."""
    return BAUD_OF_CONSTANT.get(attrs[5], 0) if attrs[5] != termios.B0 else 0


def char_time(count, baud, bits=10):
    """Seconds that count 8N1 characters take on the line."""
    return count * bits / baud if baud > 0 else 0.0


def resample(data, tx_baud, rx_baud, stop_bits=1):
    """Bytes a receiver at rx_baud assembles from data sent at tx_baud (8N1).

    Times are integers: one transmitted bit lasts 2*rx_baud units, one received
    bit 2*tx_baud units, so every sampling point falls on a whole unit."""
    if tx_baud <= 0 or rx_baud <= 0:
        return b""
    if tx_baud == rx_baud:
        return bytes(data)
    tbit, rbit = 2 * rx_baud, 2 * tx_baud
    # The waveform as level changes: (time, level) with the level holding until
    # the next change; the line idles high before and after.
    times, levels = [0], [1]
    t = 0
    for byte in data:
        bits = [0] + [(byte >> i) & 1 for i in range(8)] + [1] * stop_bits
        for bit in bits:
            if bit != levels[-1]:
                if times[-1] == t:
                    levels[-1] = bit
                else:
                    times.append(t)
                    levels.append(bit)
            t += tbit
    end = t
    falling = [times[i] for i in range(1, len(times)) if levels[i] == 0 and levels[i - 1] == 1]

    def level_at(when):
        if when >= end:
            return 1
        return levels[bisect.bisect_right(times, when) - 1]

    out = bytearray()
    t, k = 0, 0
    while True:
        k = bisect.bisect_left(falling, t, lo=k)
        if k >= len(falling):
            break
        edge = falling[k]
        k += 1
        if level_at(edge + rbit // 2) != 0:
            t = edge + 1          # a glitch, not a start bit
            continue
        value = 0
        for i in range(8):
            value |= level_at(edge + rbit // 2 + rbit * (i + 1)) << i
        out.append(value)        # delivered even with a framing error
        t = edge + rbit // 2 + rbit * 9
    return bytes(out)
