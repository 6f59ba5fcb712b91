#!/usr/bin/env python3
"""Writes the bird's three verdict sounds into data/sounds/.

Each sound is a few soft bell-like notes (a sine with two quiet overtones, a short attack and an
exponential decay), 22,050 samples per second, mono, 16-bit PCM, as the sound player expects:
  match.wav     a rising major third and fifth, bright and short (policy matches)
  nomatch.wav   a falling minor third, lower and a little longer (policy does not match)
  nopolicy.wav  one note bent upwards, like a question (no valid policy found)
Run it again after changing a note; the output is the same on every run.
"""

import math
import os
import struct
import wave

RATE = 22050
PEAK = 0.45 * 32767  # well below full scale, so the notes never clip when they overlap


def note(start, length, frequency, bend=0.0, decay=9.0):
    """One note as (start second, samples): frequency may glide by `bend` semitones."""
    count = int(length * RATE)
    samples = []
    phase = 0.0
    for i in range(count):
        t = i / RATE
        glide = frequency * 2 ** (bend * min(t / length, 1.0) / 12)
        phase += 2 * math.pi * glide / RATE
        attack = min(t / 0.008, 1.0)
        envelope = attack * math.exp(-decay * t)
        value = math.sin(phase) + 0.25 * math.sin(2 * phase) + 0.08 * math.sin(3 * phase)
        samples.append(envelope * value / 1.33)
    return start, samples


def mix(length, notes):
    buffer = [0.0] * int(length * RATE)
    for start, samples in notes:
        offset = int(start * RATE)
        for i, value in enumerate(samples):
            if offset + i < len(buffer):
                buffer[offset + i] += value
    # A last few milliseconds of fade so that the sound ends without a click.
    fade = int(0.015 * RATE)
    for i in range(fade):
        buffer[-1 - i] *= i / fade
    return buffer


def write(path, buffer):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        frames = b"".join(
            struct.pack("<h", int(max(-1.0, min(1.0, v)) * PEAK)) for v in buffer)
        out.writeframes(frames)


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "sounds")
    os.makedirs(folder, exist_ok=True)
    sounds = {
        "match.wav": mix(0.34, [note(0.0, 0.34, 1046.5), note(0.07, 0.27, 1318.5),
                                note(0.14, 0.20, 1568.0)]),
        "nomatch.wav": mix(0.40, [note(0.0, 0.40, 587.3, decay=7.0),
                                  note(0.12, 0.28, 493.9, decay=8.0)]),
        "nopolicy.wav": mix(0.28, [note(0.0, 0.28, 784.0, bend=4.0, decay=8.0)]),
    }
    for name, buffer in sounds.items():
        write(os.path.join(folder, name), buffer)


if __name__ == "__main__":
    main()
