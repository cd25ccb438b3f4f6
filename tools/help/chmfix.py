"""Mends the topic names that chmcmd stores for [ALIAS] targets.

chmcmd 3.2 writes each alias target into #STRINGS as the absolute path of its source file on the
build machine, a name no viewer finds inside the .chm, so HH_HELP_CONTEXT opens nothing. Every
such name is cut down to the topic's own path inside the file, padded with NULs to its old
length so that every offset into #STRINGS (from #IVB, #WINDOWS and the rest) stays valid. The
mended #STRINGS goes uncompressed at the end of content section 0 and its directory entry is
pointed there; the compressed copy stays behind, unreferenced.
"""
import os
import struct


class ChmError(Exception):
    pass


def read_encint(data, pos):
    value = 0
    while True:
        if pos >= len(data):
            raise ChmError("directory entry runs past its chunk")
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def encint(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(groups))


def parse_chunk_entries(chunk, end):
    """(start, end, name, section, offset, length) of each listing entry of one PMGL chunk."""
    entries = []
    pos = 0x14
    while pos < end:
        start = pos
        name_length, pos = read_encint(chunk, pos)
        name = chunk[pos:pos + name_length].decode("utf-8")
        pos += name_length
        section, pos = read_encint(chunk, pos)
        offset, pos = read_encint(chunk, pos)
        length, pos = read_encint(chunk, pos)
        entries.append((start, pos, name, section, offset, length))
    return entries


class ChmDirectory:
    def __init__(self, data):
        if data[:4] != b"ITSF" or struct.unpack_from("<I", data, 4)[0] != 3:
            raise ChmError("not a version 3 ITSF file")
        self.data = bytearray(data)
        self.header0_offset = struct.unpack_from("<Q", data, 0x38)[0]
        self.dir_offset = struct.unpack_from("<Q", data, 0x48)[0]
        self.content_offset = struct.unpack_from("<Q", data, 0x58)[0]
        itsp = self.dir_offset
        if data[itsp:itsp + 4] != b"ITSP":
            raise ChmError("no ITSP directory header")
        header_length, _, self.chunk_size, density = struct.unpack_from("<IIII", data, itsp + 8)
        self.quickref_step = 1 + (1 << density)
        first, last = struct.unpack_from("<ii", data, itsp + 0x20)
        self.chunks_offset = itsp + header_length
        self.listing_chunks = []
        index = first
        while index != -1:
            if len(self.listing_chunks) > 4096:
                raise ChmError("listing chunks form a loop")
            self.listing_chunks.append(index)
            chunk = self._chunk(index)
            if chunk[:4] != b"PMGL":
                raise ChmError("listing chunk %d is not PMGL" % index)
            index = struct.unpack_from("<i", chunk, 0x10)[0]

    def _chunk_pos(self, index):
        return self.chunks_offset + index * self.chunk_size

    def _chunk(self, index):
        pos = self._chunk_pos(index)
        return self.data[pos:pos + self.chunk_size]

    def entries(self):
        for index in self.listing_chunks:
            chunk = self._chunk(index)
            free = struct.unpack_from("<I", chunk, 4)[0]
            for entry in parse_chunk_entries(chunk, self.chunk_size - free):
                yield index, entry

    def find(self, name):
        for index, entry in self.entries():
            if entry[2].lower() == name.lower():
                return index, entry
        return None, None

    def replace_file(self, name, content):
        """Stores `content` as file `name` in section 0 at the end of the file."""
        index, entry = self.find(name)
        if entry is None:
            raise ChmError("no %s in the directory" % name)
        start, end = entry[0], entry[1]
        new_offset = len(self.data) - self.content_offset
        raw_name = entry[2].encode("utf-8")
        new_entry = encint(len(raw_name)) + raw_name + encint(0) + encint(new_offset) + encint(len(content))
        chunk = bytearray(self._chunk(index))
        free = struct.unpack_from("<I", chunk, 4)[0]
        used_end = self.chunk_size - free
        delta = len(new_entry) - (end - start)
        count = struct.unpack_from("<H", chunk, self.chunk_size - 2)[0]
        quickrefs = count // self.quickref_step
        if free - delta < 2 + 2 * quickrefs:
            raise ChmError("no room in the directory chunk to move %s" % name)
        # Quick-reference offsets count from the first entry; those past the changed entry move.
        refs = [struct.unpack_from("<H", chunk, self.chunk_size - 4 - 2 * i)[0] for i in range(quickrefs)]
        body = bytes(chunk[0x14:start]) + new_entry + bytes(chunk[end:used_end])
        chunk[0x14:self.chunk_size] = bytes(self.chunk_size - 0x14)
        chunk[0x14:0x14 + len(body)] = body
        struct.pack_into("<I", chunk, 4, free - delta)
        struct.pack_into("<H", chunk, self.chunk_size - 2, count)
        for i, ref in enumerate(refs):
            if 0x14 + ref > start:
                ref += delta
            struct.pack_into("<H", chunk, self.chunk_size - 4 - 2 * i, ref)
        pos = self._chunk_pos(index)
        self.data[pos:pos + self.chunk_size] = chunk
        self.data += content
        # Header section 0 holds the file's length.
        struct.pack_into("<Q", self.data, self.header0_offset + 8, len(self.data))


def mend_strings(strings, source_folder):
    """#STRINGS with every NUL-ended name under `source_folder` cut to the name below it (the folder
    as given or with its links resolved: chmcmd may write either)."""
    prefixes = {os.path.abspath(source_folder).rstrip("/").encode("utf-8") + b"/",
                os.path.realpath(source_folder).rstrip("/").encode("utf-8") + b"/"}
    out = bytearray(strings)
    pos = 0
    changed = 0
    while pos < len(out):
        end = out.find(b"\0", pos)
        if end < 0:
            end = len(out)
        text = bytes(out[pos:end])
        for prefix in prefixes:
            if text.startswith(prefix):
                short = text[len(prefix):]
                out[pos:end] = short + bytes(len(text) - len(short))
                changed += 1
                break
        pos = end + 1
    return bytes(out), changed
