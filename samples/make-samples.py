#!/usr/bin/env python3
"""Makes the bundled sample sounds: short 8-bit unsigned mono PCM WAV files
with the canonical 44-byte header, the project file that names them, and the
plain Kiva300 image that kiva300-demo.dat is encoded from. Run from anywhere;
writes beside itself. Needs nothing beyond Python 3."""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def wav(name, rate, samples):
    data = bytes(samples)
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate, 1, 8)
    header += b"data" + struct.pack("<I", len(data))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + data)
    return len(data)


def tone(rate, seconds, parts, volume=0.6):
    """parts: list of (frequency, share of the length); a short fade at both ends."""
    total = int(rate * seconds)
    out = []
    fade = max(1, rate // 100)
    for i in range(total):
        t = i / rate
        at = i / total
        acc = 0.0
        for freq, start, end in parts:
            if start <= at < end:
                acc += math.sin(2 * math.pi * freq * t)
        env = min(1.0, i / fade, (total - 1 - i) / fade)
        out.append(max(0, min(255, round(128 + 127 * volume * env * acc))))
    return out


def main():
    sections = [
        ("beep.wav", 8000, tone(8000, 0.30, [(1000, 0.0, 1.0)])),
        ("chime.wav", 11025, tone(11025, 0.40, [(880, 0.0, 0.5), (660, 0.5, 1.0)])),
        ("low-tone.wav", 8000, tone(8000, 0.25, [(400, 0.0, 1.0)])),
        ("alert.wav", 16000, tone(16000, 0.20, [(1500, 0.0, 0.25), (2000, 0.25, 0.5),
                                                (1500, 0.5, 0.75), (2000, 0.75, 1.0)], 0.5)),
    ]
    # Sections 0, 1, 2 and 4: section 3 stays empty, as a real script may have gaps.
    placed = {0: 0, 1: 1, 2: 2, 4: 3}
    lines = [">>>"] * 1024
    for section, index in placed.items():
        name, rate, samples = sections[index]
        size = wav(name, rate, samples)
        lines[section] = f"{rate}>{size}>{name}>"
    with open(os.path.join(HERE, "demo.log"), "wb") as f:
        f.write("\r\n".join(lines).encode() + b"\r\n2026/12/08-04:00:00")

    # The Kiva300 image: a 16-byte header (first word 8: header length 16, the
    # check word at bytes 14 and 15, stamped by the converter) and a sound.
    image = bytearray([0x08, 0x00, 0x40, 0x1F] + [0x00] * 10 + [0xFF, 0xFF])
    image += bytes(tone(8000, 4080 / 8000, [(700, 0.0, 1.0)], 0.5))
    assert len(image) == 4096
    with open(os.path.join(HERE, "kiva300-demo.bin"), "wb") as f:
        f.write(image)


if __name__ == "__main__":
    main()
