"""Makes Kestrel Clock's hour strikes: strike01.wav to strike12.wav, a bell struck one to
twelve times (16-bit mono, 22050 Hz; each stroke 1.2 s of decaying partials). The same bytes
at every run, so that the setup that carries them is the same at every build.
    python3 make-chimes.py FOLDER"""
import math
import os
import struct
import sys
import wave

RATE = 22050
STROKE = int(RATE * 1.2)
PARTIALS = ((1.0, 0.6, 2.2), (2.0, 0.25, 3.5), (2.76, 0.15, 5.0), (5.4, 0.06, 8.0))


def stroke():
    """One stroke of the bell as 16-bit samples: (frequency ratio, level, decay per second)."""
    base = 523.25  # C5
    samples = []
    for n in range(STROKE):
        t = n / RATE
        value = sum(level * math.exp(-decay * t) * math.sin(2 * math.pi * base * ratio * t)
                    for ratio, level, decay in PARTIALS)
        samples.append(int(max(-1.0, min(1.0, value)) * 30000))
    return struct.pack("<%dh" % len(samples), *samples)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    one = stroke()
    for hour in range(1, 13):
        with wave.open(os.path.join(folder, "strike%02d.wav" % hour), "wb") as sound:
            sound.setnchannels(1)
            sound.setsampwidth(2)
            sound.setframerate(RATE)
            sound.writeframes(one * hour)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
