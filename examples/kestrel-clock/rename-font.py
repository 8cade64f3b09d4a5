"""Renames a TrueType font's family in its name table, as the Bitstream Vera licence of the
DejaVu fonts asks of a changed font: the backdrop's "DejaVu Serif" becomes "Kestrel Serif", a
family no system already has (a system that has the family may keep its own and refuse to
remove the setup's copy at the end). Everything else stays, the copyright notices included;
the tables are laid out again with their checksums and the font's checksum adjustment.
    python3 rename-font.py INPUT.ttf OUTPUT.ttf OLD_FAMILY NEW_FAMILY"""
import struct
import sys

RENAMED = (1, 3, 4, 6, 16, 18, 21)  # family, unique id, full, PostScript, typographic names


def checksum(data):
    data += b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def renamed_names(table, old, new):
    _, count, strings = struct.unpack_from(">HHH", table)
    records, pool = [], b""
    for i in range(count):
        platform, encoding, language, name, length, offset = struct.unpack_from(
            ">6H", table, 6 + 12 * i)
        text = table[strings + offset:strings + offset + length]
        if name in RENAMED:
            wide = platform in (0, 3)
            codec = "utf-16-be" if wide else "latin-1"
            value = text.decode(codec)
            value = value.replace(old, new).replace(old.replace(" ", ""), new.replace(" ", ""))
            text = value.encode(codec)
        records.append(struct.pack(">6H", platform, encoding, language, name, len(text),
                                   len(pool)))
        pool += text
    return struct.pack(">HHH", 0, count, 6 + 12 * count) + b"".join(records) + pool


def main(source, target, old, new):
    with open(source, "rb") as font:
        data = font.read()
    version, count = struct.unpack_from(">IH", data)
    tables = {}
    for i in range(count):
        tag, _, offset, length = struct.unpack_from(">4sIII", data, 12 + 16 * i)
        tables[tag] = data[offset:offset + length]
    tables[b"name"] = renamed_names(tables[b"name"], old, new)
    head = bytearray(tables[b"head"])
    struct.pack_into(">I", head, 8, 0)  # checkSumAdjustment: counted as 0
    tables[b"head"] = bytes(head)
    power = 1 << (count.bit_length() - 1)
    out = bytearray(struct.pack(">IHHHH", version, count, power * 16, count.bit_length() - 1,
                                count * 16 - power * 16))
    at = 12 + 16 * count
    body = b""
    for tag in sorted(tables):
        table = tables[tag]
        out += struct.pack(">4sIII", tag, checksum(table), at + len(body), len(table))
        body += table + b"\0" * (-len(table) % 4)
    out += body
    head_at = struct.unpack_from(">I", out, 12 + 16 * sorted(tables).index(b"head") + 8)[0]
    struct.pack_into(">I", out, head_at + 8, (0xB1B0AFBA - checksum(bytes(out))) & 0xFFFFFFFF)
    with open(target, "wb") as font:
        font.write(out)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
