#!/usr/bin/env python3
"""Checks that a file is the launcher's real Windows executable.

Usage: check-pe.py EXE
       check-pe.py --console EXE

Reads the PE file itself (no Windows tools needed) and checks:
  - PE32 for i386;
  - the Windows GUI subsystem;
  - NvOptimusEnablement and AmdPowerXpressRequestHighPerformance exported by
    name as 32-bit data holding 1;
  - an application manifest (resource type 24, id 1) asking for "asInvoker"
    with uiAccess false and declaring Windows 10 as a supported OS;
  - cef_execute_process imported from libcef.dll;
  - CEF's x86 stack reserve of 0.5 MiB, and large-address awareness.

With --console it checks a console program built with CEF's settings (the
conformance client) instead:
  - PE32 for i386;
  - the Windows console subsystem;
  - the same application manifest;
  - imports from libcef.dll and otherwise only from DLLs that ship with
    Windows (no compiler runtime DLL);
  - the same stack reserve and large-address awareness.

Prints one line per check and a verdict. Exit status: 0 when every check
passes, 1 otherwise.
"""

import struct
import sys
import xml.etree.ElementTree as ElementTree

MACHINE_I386 = 0x014C
MAGIC_PE32 = 0x010B
SUBSYSTEM_WINDOWS_GUI = 2
SUBSYSTEM_WINDOWS_CUI = 3
FILE_LARGE_ADDRESS_AWARE = 0x0020
SCN_MEM_EXECUTE = 0x20000000
RT_MANIFEST = 24
MANIFEST_ID = 1
STACK_RESERVE = 0x80000
# The supportedOS id of Windows 10 and 11.
WINDOWS_10_ID = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
MANIFEST_CHECK = "manifest: asInvoker, Windows 10"
GPU_EXPORTS = ("NvOptimusEnablement", "AmdPowerXpressRequestHighPerformance")
# DLLs every Windows installation has; anything else beside libcef.dll would
# have to be deployed with the program.
SYSTEM_DLLS = frozenset((
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll",
    "crypt32.dll", "dbghelp.dll", "dwmapi.dll", "gdi32.dll", "imm32.dll",
    "kernel32.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll",
    "powrprof.dll", "propsys.dll", "psapi.dll", "rpcrt4.dll", "secur32.dll",
    "setupapi.dll", "shell32.dll", "shlwapi.dll", "ucrtbase.dll",
    "user32.dll", "userenv.dll", "uxtheme.dll", "version.dll", "winmm.dll",
    "ws2_32.dll", "wtsapi32.dll",
))


class PeError(Exception):
    pass


class PeFile:
    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        coff = pe + 4
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        self.magic = self.u16(optional)
        if self.magic != MAGIC_PE32:
            # PE32+ moves every field after the entry point; nothing more is
            # read from such a file.
            self.subsystem = self.stack_reserve = None
            self.directories = []
        else:
            self.subsystem = self.u16(optional + 68)
            self.stack_reserve = self.u32(optional + 72)
            count = self.u32(optional + 92)
            self.directories = [
                struct.unpack_from("<II", data, optional + 96 + 8 * i)
                for i in range(min(count, 16))
            ]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            entry = table + 40 * i
            virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<IIII", data, entry + 8)
            flags = self.u32(entry + 36)
            self.sections.append(
                (address, max(virtual_size, raw_size), raw_offset, raw_size,
                 flags))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        if offset + 4 > len(self.data):
            raise PeError("truncated at offset %#x" % offset)
        return struct.unpack_from("<I", self.data, offset)[0]

    def section_of(self, rva):
        for section in self.sections:
            address, size = section[0], section[1]
            if address <= rva < address + size:
                return section
        raise PeError("address %#x lies in no section" % rva)

    def offset(self, rva):
        address, _, raw_offset, raw_size, _ = self.section_of(rva)
        if rva - address >= raw_size:
            raise PeError("address %#x has no file data" % rva)
        return raw_offset + rva - address

    def value(self, rva):
        """The 32-bit value at an address; zero-filled data (.bss) reads 0."""
        address, _, raw_offset, raw_size, _ = self.section_of(rva)
        if rva - address + 4 > raw_size:
            return 0
        return self.u32(raw_offset + rva - address)

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii", "replace")

    def directory(self, index):
        if index >= len(self.directories):
            return (0, 0)
        return self.directories[index]

    def exports(self):
        """Maps each exported name to its address."""
        rva, size = self.directory(0)
        if not rva:
            return {}
        base = self.offset(rva)
        functions, names, ordinals = (self.u32(base + 28), self.u32(base + 32),
                                      self.u32(base + 36))
        result = {}
        for i in range(self.u32(base + 24)):
            name = self.string(self.u32(self.offset(names) + 4 * i))
            index = self.u16(self.offset(ordinals) + 2 * i)
            result[name] = self.u32(self.offset(functions) + 4 * index)
        return result

    def export_is_forwarder(self, address):
        rva, size = self.directory(0)
        return rva <= address < rva + size

    def imports(self):
        """Maps each imported DLL name (lower case) to its imported names."""
        rva, _ = self.directory(1)
        result = {}
        if not rva:
            return result
        descriptor = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from(
                "<IIIII", self.data, descriptor)
            if not (lookup or name or thunks):
                return result
            names = result.setdefault(self.string(name).lower(), [])
            entry = self.offset(lookup or thunks)
            while True:
                thunk = self.u32(entry)
                if not thunk:
                    break
                if not thunk & 0x80000000:
                    names.append(self.string(thunk + 2))
                entry += 4
            descriptor += 20

    def resource(self, type_id, name_id):
        """The bytes of resource type/id (its first language), or None."""
        rva, _ = self.directory(2)
        if not rva:
            return None
        root = self.offset(rva)

        def child(directory, wanted):
            named, numbered = struct.unpack_from("<HH", self.data,
                                                 directory + 12)
            for i in range(named + numbered):
                entry = directory + 16 + 8 * i
                ident, target = struct.unpack_from("<II", self.data, entry)
                if wanted is None or (not ident & 0x80000000 and
                                      ident == wanted):
                    return target
            return None

        level = root
        for wanted in (type_id, name_id, None):
            target = child(level, wanted)
            if target is None:
                return None
            if wanted is None and target & 0x80000000:
                raise PeError("resource tree deeper than three levels")
            if wanted is not None and not target & 0x80000000:
                raise PeError("resource tree ends too early")
            level = root + (target & 0x7FFFFFFF)
        data_rva, size = struct.unpack_from("<II", self.data, level)
        start = self.offset(data_rva)
        return self.data[start:start + size]


def check_exports(pe):
    failures = []
    exports = pe.exports()
    for name in GPU_EXPORTS:
        if name not in exports:
            failures.append("%s is not exported by that name" % name)
            continue
        address = exports[name]
        if pe.export_is_forwarder(address):
            failures.append("%s is a forwarder" % name)
            continue
        if pe.section_of(address)[4] & SCN_MEM_EXECUTE:
            failures.append("%s is code, not data" % name)
            continue
        value = pe.value(address)
        if value != 1:
            failures.append("%s holds %d, not 1" % (name, value))
    return failures


def local_name(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(pe):
    manifest = pe.resource(RT_MANIFEST, MANIFEST_ID)
    if manifest is None:
        return ["no manifest resource (type 24, id 1)"]
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        return ["the manifest is not well-formed XML: %s" % error]
    levels = [element for element in root.iter()
              if local_name(element.tag) == "requestedExecutionLevel"]
    if len(levels) != 1:
        return ["the manifest has %d requestedExecutionLevel elements, not 1"
                % len(levels)]
    failures = []
    level = levels[0].get("level")
    if level != "asInvoker":
        failures.append('execution level is %r, not "asInvoker"' % level)
    ui_access = levels[0].get("uiAccess")
    if ui_access != "false":
        failures.append('uiAccess is %r, not "false"' % ui_access)
    systems = [element.get("Id", "").lower() for element in root.iter()
               if local_name(element.tag) == "supportedOS"]
    if WINDOWS_10_ID not in systems:
        failures.append("no supportedOS entry for Windows 10 (%s)"
                        % WINDOWS_10_ID)
    return failures


def check_import(pe):
    imports = pe.imports()
    if "libcef.dll" not in imports:
        return ["nothing is imported from libcef.dll"]
    if "cef_execute_process" not in imports["libcef.dll"]:
        return ["libcef.dll is imported without cef_execute_process"]
    return []


def check_console_imports(pe):
    imports = pe.imports()
    failures = []
    if "libcef.dll" not in imports:
        failures.append("nothing is imported from libcef.dll")
    others = sorted(name for name in imports
                    if name != "libcef.dll" and name not in SYSTEM_DLLS and
                    not name.startswith("api-ms-win-"))
    if others:
        failures.append("imports from %s, which Windows does not provide"
                        % ", ".join(others))
    return failures


def run_checks(pe, console=False):
    """Yields (property, failures) for every property."""
    machine = []
    if pe.machine != MACHINE_I386:
        machine.append("machine is %#06x, not i386" % pe.machine)
    if pe.magic != MAGIC_PE32:
        machine.append("optional header magic is %#06x, not PE32" % pe.magic)
    yield "PE32 i386", machine
    if pe.magic != MAGIC_PE32:
        return
    if console:
        yield "Windows console subsystem", (
            [] if pe.subsystem == SUBSYSTEM_WINDOWS_CUI else
            ["subsystem is %d, not 3" % pe.subsystem])
        yield MANIFEST_CHECK, check_manifest(pe)
        yield "imports only libcef.dll and the system", (
            check_console_imports(pe))
        for check in common_checks(pe):
            yield check
        return
    yield "Windows GUI subsystem", (
        [] if pe.subsystem == SUBSYSTEM_WINDOWS_GUI else
        ["subsystem is %d, not 2" % pe.subsystem])
    yield "GPU preference exports", check_exports(pe)
    yield MANIFEST_CHECK, check_manifest(pe)
    yield "cef_execute_process from libcef.dll", check_import(pe)
    for check in common_checks(pe):
        yield check


def common_checks(pe):
    """CEF's x86 executable settings, for both kinds of program."""
    yield "stack reserve 0x80000", (
        [] if pe.stack_reserve == STACK_RESERVE else
        ["stack reserve is %#x" % pe.stack_reserve])
    yield "large address aware", (
        [] if pe.characteristics & FILE_LARGE_ADDRESS_AWARE else
        ["the large-address-aware flag is not set"])


def main(argv):
    console = len(argv) == 3 and argv[1] == "--console"
    if len(argv) != 2 and not console:
        print("usage: check-pe.py [--console] EXE", file=sys.stderr)
        return 2
    path = argv[-1]
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        print("FAIL  %s: %s" % (path, error.strerror))
        return 1
    failed = False
    try:
        for name, failures in run_checks(PeFile(data), console):
            if failures:
                failed = True
                print("FAIL  %s: %s" % (name, "; ".join(failures)))
            else:
                print("ok    %s" % name)
    except (PeError, struct.error, ValueError) as error:
        failed = True
        print("FAIL  readable PE file: %s" % error)
    print("%s: %s" % (path, "REJECTED" if failed else "PASSED"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
