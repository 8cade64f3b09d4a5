"""A reader of a Windows image's resources and of its version information, written for the tests
from the PE and VS_VERSIONINFO layouts, sharing nothing with the builder's code: the sections,
the resource tree (type, name, language) with every data entry's bytes, and the fixed part and
string tables of a version resource."""
import struct

RT_VERSION = 16


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe, = struct.unpack_from("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, count = struct.unpack_from("<HH", data, pe + 4)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        optional = pe + 24
        self.magic, = struct.unpack_from("<H", data, optional)
        directories = optional + {0x10B: 96, 0x20B: 112}[self.magic]
        self.image_size, self.headers_size = struct.unpack_from("<II", data, optional + 56)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 16)
        self.security = struct.unpack_from("<II", data, directories + 32)
        self.sections = []
        table = optional + optional_size
        for i in range(count):
            name, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vsize, va, raw_size, raw))

    def image_end(self):
        """Where the sections' file data ends: what lies behind was appended."""
        return max(raw + size for _, _, _, size, raw in self.sections if size)

    def offset(self, rva, size):
        for _, vsize, va, raw_size, raw in self.sections:
            if va <= rva and rva + size <= va + raw_size:
                return raw + rva - va
        raise ValueError("rva 0x%x (%d bytes) lies in no section's file data" % (rva, size))

    def resources(self):
        """[(type, name, language, bytes)]: numbers as ints, names as str."""
        if not self.resource_rva:
            return []
        base = self.offset(self.resource_rva, 16)
        found = []

        def name_of(field):
            if field & 0x80000000:
                at = base + (field & 0x7FFFFFFF)
                length, = struct.unpack_from("<H", self.data, at)
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return field

        def walk(offset, path):
            named, numbered = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                here = path + [name_of(name)]
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, here)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    at = self.offset(rva, size)
                    found.append(tuple(here) + (self.data[at:at + size],))

        walk(0, [])
        return found


def _block(data, at):
    """(length, value length, type, key, offset of the value) of the block at at."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + 6
    while data[end:end + 2] != b"\0\0":
        end += 2
    key = data[at + 6:end].decode("utf-16-le")
    return length, value_length, kind, key, (end + 2 + 3) & ~3


def _children(data, start, end):
    at = (start + 3) & ~3
    while at < end:
        length, value_length, kind, key, value = _block(data, at)
        yield at, length, value_length, kind, key, value
        at = (at + length + 3) & ~3


def version_info(block):
    """{'FixedFileVersion': '1.3.0.0', 'FixedProductVersion': ..., 'Translation': '0409 04b0',
    name: text, ...} from a VS_VERSIONINFO block."""
    length, value_length, kind, key, value = _block(block, 0)
    if key != "VS_VERSION_INFO" or value_length != 52:
        raise ValueError("no VS_VERSION_INFO block: %r" % key)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", block, value)
    if signature != 0xFEEF04BD:
        raise ValueError("no fixed file information")
    dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    info = {"FixedFileVersion": dotted(file_ms, file_ls),
            "FixedProductVersion": dotted(product_ms, product_ls)}
    for at, child_length, _, _, child_key, child_value in _children(block, value + 52, length):
        if child_key == "StringFileInfo":
            for table_at, table_length, _, _, table_key, table_value in _children(
                    block, child_value, at + child_length):
                info["Table"] = table_key
                for _, _, text_length, _, name, text_at in _children(
                        block, table_value, table_at + table_length):
                    text = block[text_at:text_at + 2 * text_length].decode("utf-16-le")
                    info[name] = text.rstrip("\0")
        elif child_key == "VarFileInfo":
            for _, _, _, _, var_key, var_value in _children(block, child_value, at + child_length):
                if var_key == "Translation":
                    language, code_page = struct.unpack_from("<HH", block, var_value)
                    info["Translation"] = "%04x %04x" % (language, code_page)
    return info
