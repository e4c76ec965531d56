#!/usr/bin/env python3
"""Packs the box texts of every language into one compressed table.

    packtexts.py HEADER OUTPUT LANGFILE...   writes the C++ source OUTPUT
    packtexts.py --costs HEADER LANGFILE...  prints what each language costs

HEADER is src/zarnouns.h, whose enum TextId names every text in order; each
LANGFILE (src/app/lang/*.txt, English first) has lines IDENTIFIER=TEXT with
the escapes \\n, \\r and \\\\. The texts, each ended by a NUL, language after
language, are coded by the model that src/app/texts.cpp decodes: a bitwise
context mixer over the last 0 to 4 bytes and the text that last followed
the same 4 bytes, with an arithmetic coder. Every step here is the
decoder's, in the same integer arithmetic; change both
together.
"""
import math
import re
import sys

ORDERS = 5            # contexts: the last 0, 1, 2, 3 and 4 bytes
MATCH_BITS = 16       # slots of the table of where each 4 bytes were last seen
MATCH_RATE = 3000     # how fast a match's confidence learns, in 1/65536
TABLE_BITS = 19       # slots per context order
COUNT_LIMIT = 20      # a slot's adaptation slows down over its first 20 bits
LEARNING_RATE = 2
FIRST_WEIGHT = 16000  # each order's weight at first, in 1/65536

SQUASH_POINTS = [1, 2, 3, 6, 10, 16, 27, 45, 73, 120, 194, 310, 488, 747, 1101, 1546, 2047,
                 2549, 2994, 3348, 3607, 3785, 3901, 3975, 4024, 4050, 4068, 4079, 4085, 4089,
                 4092, 4093, 4094]


def squash(d):
    if d > 2047:
        return 4095
    if d < -2047:
        return 1
    w = d & 127
    i = (d >> 7) + 16
    return (SQUASH_POINTS[i] * (128 - w) + SQUASH_POINTS[i + 1] * w + 64) >> 7


def stretch_table():
    table = [0] * 4096
    low = 0
    for x in range(-2047, 2048):
        v = squash(x)
        for j in range(low, v + 1):
            table[j] = x
        low = v + 1
    for j in range(low, 4096):
        table[j] = 2047
    return table


def order_hash(history, order):
    h = history & ((1 << (8 * order)) - 1) if order < 4 else history
    return (h * 0x9E3779B1 + order * 0x632BE5AB) & 0xFFFFFFFF


def pack(data, marks):
    """The coded bytes, and the bits spent up to each offset in `marks`."""
    size = 1 << TABLE_BITS
    inputs_count = ORDERS + 1  # the orders, and the match
    prob = [[0] * size for _ in range(ORDERS)]  # stored as p ^ 0x8000: zero is one half
    seen = [[0] * size for _ in range(ORDERS)]
    weights = [[0] * inputs_count for _ in range(256)]  # stored less FIRST_WEIGHT
    # The match: where the last 4 bytes were seen before (the offset after
    # them, 0 for never), the byte that followed there, and how sure a match
    # of each length (up to 31) is of its next bit, stored as p ^ 0x8000.
    last_seen = [0] * (1 << MATCH_BITS)
    match_prob = [[0, 0] for _ in range(32)]
    match, match_length = 0, 0
    rate = [131072 // (2 * n + 3) for n in range(COUNT_LIMIT + 1)]
    stretch = stretch_table()
    low, high = 0, 0xFFFFFFFF
    out = bytearray()
    history = 0
    bits = 0.0
    spent = []
    for offset, byte in enumerate(data):
        if offset in marks:
            spent.append(bits)
        hashes = [order_hash(history, k) for k in range(ORDERS)]
        if offset >= 4:
            h = ((history * 0x9E3779B1) & 0xFFFFFFFF) >> (32 - MATCH_BITS)
            if match_length == 0 and last_seen[h] != 0:
                match, match_length = last_seen[h], 1
            last_seen[h] = offset
        expected = data[match] if match_length else 0
        partial = 1
        for b in range(7, -1, -1):
            bit = (byte >> b) & 1
            slots = [((hashes[k] + partial * 0x2F0B4A23) & 0xFFFFFFFF) >> (32 - TABLE_BITS)
                     for k in range(ORDERS)]
            inputs = [stretch[(prob[k][slots[k]] ^ 0x8000) >> 4] for k in range(ORDERS)]
            if match_length:
                guess = (expected >> b) & 1
                confidence = match_prob[min(match_length, 31)]
                inputs.append(stretch[(confidence[guess] ^ 0x8000) >> 4])
            else:
                inputs.append(0)
            w = weights[partial]
            dot = sum(inputs[k] * (w[k] + FIRST_WEIGHT) for k in range(inputs_count))
            p = min(max(squash(dot >> 16), 1), 4095)
            bits -= math.log2(p / 4096 if bit else 1 - p / 4096)
            middle = low + ((high - low) >> 12) * p
            if bit:
                high = middle
            else:
                low = middle + 1
            while ((low ^ high) & 0xFF000000) == 0:
                out.append(high >> 24)
                low = (low << 8) & 0xFFFFFFFF
                high = ((high << 8) & 0xFFFFFFFF) | 255
            error = (bit << 12) - p
            for k in range(inputs_count):
                w[k] += (inputs[k] * error * LEARNING_RATE) >> 10
            if match_length:
                old = confidence[guess] ^ 0x8000
                confidence[guess] = (old + ((((65535 if bit else 0) - old) * MATCH_RATE) >> 16)) ^ 0x8000
                if bit != guess:
                    match_length = 0
            for k in range(ORDERS):
                s = slots[k]
                old = prob[k][s] ^ 0x8000
                n = seen[k][s]
                prob[k][s] = (old + ((((65535 if bit else 0) - old) * rate[n]) >> 16)) ^ 0x8000
                if n < COUNT_LIMIT:
                    seen[k][s] = n + 1
            partial = (partial << 1) | bit
        if match_length:
            match, match_length = match + 1, match_length + 1
        history = ((history << 8) | byte) & 0xFFFFFFFF
    spent.append(bits)
    # The decoder reads 0xFF past the end, which keeps it within the range.
    out.append(low >> 24)
    return bytes(out), spent


def text_names(header):
    source = open(header, encoding="utf-8").read()
    body = re.search(r"enum TextId \{(.*?)\};", source, re.S).group(1)
    body = re.sub(r"//[^\n]*", "", body)
    return [n.strip() for n in body.split(",") if n.strip() and n.strip() != "TextCount"]


def unescape(text, where):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            nxt = text[i + 1:i + 2]
            if nxt not in ("n", "r", "\\"):
                sys.exit(f"{where}: unknown escape \\{nxt}")
            out.append({"n": "\n", "r": "\r", "\\": "\\"}[nxt])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def read_language(path, names):
    texts = {}
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        name, sep, text = line.partition("=")
        where = f"{path}:{number}"
        if not sep or name not in names:
            sys.exit(f"{where}: not a line IDENTIFIER=TEXT of a known text")
        if name in texts:
            sys.exit(f"{where}: {name} given twice")
        texts[name] = unescape(text, where)
    # A text the language lacks stays empty: the program shows English.
    return b"".join(texts.get(n, "").encode("utf-8") + b"\0" for n in names)


def main(argv):
    costs = argv[1:2] == ["--costs"]
    if costs:
        header, files = argv[2], argv[3:]
    else:
        header, output, files = argv[1], argv[2], argv[3:]
    names = text_names(header)
    languages = [read_language(f, names) for f in files]
    english = languages[0].split(b"\0")
    if any(not t for t in english[:len(names)]):
        sys.exit(f"{files[0]}: English must give every text")
    data = b"".join(languages)
    ends, total = [], 0
    for language in languages:
        total += len(language)
        ends.append(total)
    packed, spent = pack(data, set([0] + ends[:-1]))
    if costs:
        print("| language | texts in UTF-8 | packed |")
        print("|---|---:|---:|")
        for i, f in enumerate(files):
            name = re.sub(r".*/|\.txt$", "", f)
            print(f"| {name} | {len(languages[i])} | {(spent[i + 1] - spent[i]) / 8:.0f} |")
        print(f"| all | {len(data)} | {len(packed)} |")
        return
    with open(output, "w", encoding="utf-8") as out:
        out.write("// Made by cmake/packtexts.py from src/app/lang/*.txt: do not edit.\n")
        out.write(f"// {len(data)} bytes of texts packed into {len(packed)}.\n")
        out.write('#include "zarnouns.h"\n\n')
        out.write(f"extern const unsigned PackedLanguages = {len(files)};\n")
        out.write(f"extern const unsigned PackedTextCount = {len(names)};\n")
        out.write("extern const unsigned UnpackedEnds[] = {" + ", ".join(map(str, ends)) + "};\n")
        out.write(f"char UnpackedTexts[{len(data)}];\n")
        out.write(f"extern const unsigned PackedSize = {len(packed)};\n")
        out.write("extern const unsigned char PackedTexts[] = {")
        for i, b in enumerate(packed):
            out.write(("\n    " if i % 16 == 0 else " ") + f"{b},")
        out.write("\n};\n")


main(sys.argv)
