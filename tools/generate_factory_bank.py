#!/usr/bin/env python3
"""Generates Sources/PresetStore/FactoryBankData.inc: the 128 names and 128 x 143 values of the
list-pipe manager's factory bank.

The output is fully determined by this script (its own random generator, fixed seed), so running
it again gives the same file byte for byte:

    python3 tools/generate_factory_bank.py            # rewrites the .inc
    python3 tools/generate_factory_bank.py --check    # exit 1 when the .inc differs

The bank keeps these properties, which tests/PresetStore/FactoryBankTest.cpp checks:
  - names: 10-23 ASCII letters, digits, spaces, hyphens; no space at either end; all different;
  - slot 0 between 0.017 and 0.1 with nine different values, 0.1 in 79 presets;
  - slot 2 from -4 to 8.03; slots 3, 13, 14, 90, 91 from -4 to 10;
  - slot 15 from -12 to 0 (-12 is the lowest value of the bank); slot 30 always 1;
  - slot 33 from 47 to 53.5 (53.5 the highest value of the bank); slot 34 -3 or 1;
  - slots 56, 71 -1 or 1; slots 73-78 from -5 to 5 with 66-75 different values each;
  - slot 128 -5 or 5; slots 6, 48, 133 0 or 5; slots 85, 86, 131 0 or 6;
  - the always-zero slots and the on/off slots listed below;
  - 10,819 of the 18,304 values are 0.0;
  - preset 0 starts 0.017, 0, 2.44, 4.26, 0, 0, 0, -5, 0.191015, 2.
"""

import os
import sys

PRESETS = 128
VALUES = 143
TARGET_ZEROS = 10819
SCALE = 1_000_000  # values are kept as integers of millionths, so the text is exact

ALWAYS_ZERO = [10, 11, 40, 41, 49, 51, 70, 81, 104, 106, 108, 110, 111, 112, 113, 114, 115, 117, 119, 137]
ON_OFF = [20, 23, 26, 31, 37, 38, 39, 43, 44, 45, 46, 47, 54, 57, 58, 59, 61, 66, 67, 69, 83, 88, 97,
          100, 101, 103, 138, 139, 140, 141, 142]
ZERO_OR_5 = [6, 48, 133]
ZERO_OR_6 = [85, 86, 131]
PLUS_MINUS_1 = [56, 71]
WIDE = [3, 13, 14, 90, 91]
SPREAD = list(range(73, 79))
PRESET0_START = ["0.017", "0", "2.44", "4.26", "0", "0", "0", "-5", "0.191015", "2"]

CONSTRAINED = set(ALWAYS_ZERO + ON_OFF + ZERO_OR_5 + ZERO_OR_6 + PLUS_MINUS_1 + WIDE + SPREAD +
                  [0, 2, 15, 30, 33, 34, 128])
FREE = [s for s in range(VALUES) if s not in CONSTRAINED]


class Random:
    """xorshift64*: small, and the same on every Python."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x >> 12)
        x ^= (x << 25) & 0xFFFFFFFFFFFFFFFF
        x ^= (x >> 27)
        self.state = x
        return (x * 0x2545F4914F6CDD1D) & 0xFFFFFFFFFFFFFFFF

    def below(self, n):
        return (self.next() >> 11) % n

    def chance(self, per_thousand):
        return self.below(1000) < per_thousand

    def between(self, low, high, step):
        """A multiple of step (all in millionths) from low to high inclusive."""
        return low + self.below((high - low) // step + 1) * step

    def shuffle(self, items):
        for i in range(len(items) - 1, 0, -1):
            j = self.below(i + 1)
            items[i], items[j] = items[j], items[i]


def micro(text):
    sign = -1 if text.startswith("-") else 1
    text = text.lstrip("-")
    whole, _, fraction = text.partition(".")
    return sign * (int(whole) * SCALE + int((fraction + "000000")[:6]))


def literal(value):
    if value == 0:
        return "0.0f"
    sign = "-" if value < 0 else ""
    value = abs(value)
    whole, fraction = divmod(value, SCALE)
    digits = f"{fraction:06d}".rstrip("0")
    return f"{sign}{whole}.{digits or '0'}f"


ADJECTIVES = ["Analog", "Warm", "Glass", "Dark", "Bright", "Hollow", "Velvet", "Frozen", "Solar",
              "Dusty", "Golden", "Silver", "Deep", "Soft", "Wide", "Vintage", "Liquid", "Crystal",
              "Electric", "Distant", "Lunar", "Smooth", "Raw", "Gritty", "Airy", "Iron", "Copper",
              "Neon", "Rusty", "Shimmer", "Stereo", "Mellow", "Pulse", "Static", "Amber", "Polar"]
NOUNS = ["Pad", "Lead", "Bass", "Strings", "Brass", "Pluck", "Keys", "Bells", "Sweep", "Choir",
         "Arp", "Drone", "Organ", "Piano", "Flute", "Sync Lead", "Sub Bass", "Mallet", "Voices",
         "Texture", "Chords", "Stab", "Harp", "Reed", "Saw Stack", "Poly", "Wind", "Clav"]
SUFFIXES = ["", "", "", " II", " 2", "-X", " Mk2", " 80s", " Wide", " Mono", " Soft", " Dry"]


def make_names(rng):
    names = []
    seen = set()
    while len(names) < PRESETS:
        name = rng_pick(rng, ADJECTIVES) + " " + rng_pick(rng, NOUNS) + rng_pick(rng, SUFFIXES)
        if len(name) < 10:
            name = rng_pick(rng, ADJECTIVES) + " " + name
        if not 10 <= len(name) <= 23 or name in seen:
            continue
        seen.add(name)
        names.append(name)
    return names


def rng_pick(rng, items):
    return items[rng.below(len(items))]


def free_slot_style(rng):
    """How one unconstrained slot varies across the bank: (zero chance, low, high, step)."""
    styles = [
        (0, 1 * SCALE, 1000),              # a level 0-1
        (-1 * SCALE, 1 * SCALE, 1000),     # a bipolar amount
        (0, 10 * SCALE, 10000),            # a time or rate 0-10
        (-10 * SCALE, 10 * SCALE, 10000),  # a bipolar control voltage
        (0, 4 * SCALE, 1 * SCALE),         # a small selector
        (-5 * SCALE, 5 * SCALE, 10000),    # an offset
    ]
    low, high, step = styles[rng.below(len(styles))]
    zero_chance = 300 + rng.below(500)
    return zero_chance, low, high, step


def nonzero(rng, low, high, step):
    while True:
        value = rng.between(low, high, step)
        if value != 0:
            return value


def make_values(rng):
    bank = [[0] * VALUES for _ in range(PRESETS)]

    # Slot 0: nine values, 0.1 in 79 presets; preset 0 holds 0.017.
    others = [micro(v) for v in ["0.017", "0.02", "0.025", "0.03", "0.04", "0.05", "0.06", "0.08"]]
    column = [micro("0.1")] * 79 + others + [others[rng.below(len(others))] for _ in range(128 - 79 - 8)]
    rest = column[:]
    rest.remove(micro("0.017"))
    rng.shuffle(rest)
    column = [micro("0.017")] + rest
    for p in range(PRESETS):
        bank[p][0] = column[p]

    def ranged(slot, low, high, step, zero_chance, ends):
        for p in range(PRESETS):
            bank[p][slot] = 0 if rng.chance(zero_chance) else rng.between(low, high, step)
        # Both ends of the range occur, in presets away from preset 0.
        for value, p in zip(ends, [17 + slot % 50, 64 + slot % 50]):
            bank[p][slot] = value

    ranged(2, micro("-4"), micro("8.03"), 10000, 250, [micro("-4"), micro("8.03")])
    for slot in WIDE:
        ranged(slot, micro("-4"), micro("10"), 10000, 250, [micro("-4"), micro("10")])
    ranged(15, micro("-12"), 0, 100000, 600, [micro("-12"), 0])
    ranged(33, micro("47"), micro("53.5"), 100000, 0, [micro("47"), micro("53.5")])
    for p in range(PRESETS):
        bank[p][30] = SCALE
        bank[p][34] = micro("-3") if rng.chance(300) else SCALE
        bank[p][128] = micro("-5") if rng.chance(400) else micro("5")
        for slot in PLUS_MINUS_1:
            bank[p][slot] = -SCALE if rng.chance(350) else SCALE
        for slot in ZERO_OR_5:
            bank[p][slot] = micro("5") if rng.chance(300) else 0
        for slot in ZERO_OR_6:
            bank[p][slot] = micro("6") if rng.chance(300) else 0
    for slot in ON_OFF:
        on_chance = 100 + rng.below(400)
        for p in range(PRESETS):
            bank[p][slot] = SCALE if rng.chance(on_chance) else 0

    # Slots 73-78: 66 to 71 different values each, 0 among them.
    for slot in SPREAD:
        wanted = 66 + (slot - 73)
        distinct = {0}
        while len(distinct) < wanted:
            distinct.add(rng.between(micro("-5"), micro("5"), 10000))
        distinct = sorted(distinct)
        column = distinct + [distinct[rng.below(wanted)] for _ in range(PRESETS - wanted)]
        rng.shuffle(column)
        for p in range(PRESETS):
            bank[p][slot] = column[p]

    for slot in FREE:
        zero_chance, low, high, step = free_slot_style(rng)
        for p in range(PRESETS):
            bank[p][slot] = 0 if rng.chance(zero_chance) else nonzero(rng, low, high, step)
        # Keep the free slots' values apart from the bank's extremes.
        assert low > micro("-12") and high < micro("53.5")

    for slot, text in enumerate(PRESET0_START):
        bank[0][slot] = micro(text)

    # Bring the count of zeros to the target by changing free values only (never preset 0's
    # fixed start), in a fixed pseudo-random order.
    cells = [(p, s) for p in range(PRESETS) for s in FREE if not (p == 0 and s < len(PRESET0_START))]
    rng.shuffle(cells)
    zeros = sum(1 for row in bank for v in row if v == 0)
    for p, s in cells:
        if zeros == TARGET_ZEROS:
            break
        if zeros > TARGET_ZEROS and bank[p][s] == 0:
            bank[p][s] = nonzero(rng, 0, SCALE, 1000)
            zeros -= 1
        elif zeros < TARGET_ZEROS and bank[p][s] != 0:
            bank[p][s] = 0
            zeros += 1
    assert zeros == TARGET_ZEROS, zeros
    return bank


def render(names, bank):
    lines = [
        "// Generated by tools/generate_factory_bank.py (fixed seed); edit the generator, not this file.",
        "// Included once, by FactoryBank.cpp.",
        "",
        "static const char* const kFactoryNames[128] = {",
    ]
    for name in names:
        lines.append(f'    "{name}",')
    lines.append("};")
    lines.append("")
    lines.append("static const float kFactoryValues[128][143] = {")
    for p, row in enumerate(bank):
        lines.append(f"    // {p}: {names[p]}")
        lines.append("    {")
        for start in range(0, VALUES, 10):
            lines.append("        " + ", ".join(literal(v) for v in row[start:start + 10]) + ",")
        lines.append("    },")
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    rng = Random(0x7A5F1C0DE2025)
    names = make_names(rng)
    bank = make_values(rng)
    text = render(names, bank)
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, "..", "Sources", "PresetStore", "FactoryBankData.inc")
    if "--check" in sys.argv[1:]:
        with open(target, encoding="ascii") as existing:
            sys.exit(0 if existing.read() == text else 1)
    with open(target, "w", encoding="ascii", newline="\n") as out:
        out.write(text)


if __name__ == "__main__":
    main()
