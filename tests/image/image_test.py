#!/usr/bin/python3
"""Tests of the finished executable as a file: image settings, imports, the
two resources byte by byte, the signature, the platform's own version
queries under Wine, and the reproducibility of the unsigned image.

    image_test.py [-v] [TestClass ...]

ASSISTANT_WINDOWS_BUILD names the Windows build folder. The expected maker
texts are read from that build's CMake cache, so the tests follow whatever a
distributor set there. Further settings:

    ASSISTANT_SIGNING_CA_FILE, ASSISTANT_TIMESTAMP_CA_FILE
        trust anchors for the signature and the time stamp; by default the
        development CA that the Windows build made.
    ASSISTANT_SOURCE_DIR
        the source tree, for the reproducibility build (Reproducible).
    WINEPREFIX
        a 64-bit prefix, for the version queries (VersionQuery).

Runs with Debian's /usr/bin/python3 and its python3-pefile.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

OUTPUT_NAME = "ie8-setup-assistant"
VERSION_TEXT = "3.2.0.1725"
DESCRIPTION = "IE8\u5b89\u88c5\u52a9\u624b"  # IE8安装助手
MANIFEST = (b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" '
            b'manifestVersion="1.0">\r\n</assembly>')
STRING_KEYS = ["CompanyName", "FileDescription", "FileVersion",
               "InternalName", "LegalCopyright", "OriginalFilename",
               "ProductName", "ProductVersion"]
# Both are known system libraries, which Windows never looks for in the
# program's folder; SHLWAPI and SHELL32 are loaded at run time from the
# system folder.
STATIC_IMPORTS = {"kernel32.dll", "advapi32.dll"}
RT_VERSION = 16
RT_MANIFEST = 24
LANG_ZH_CN = 2052
LANG_EN_US = 1033

DIR_EXPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]
DIR_SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
DIR_BOUND_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BOUND_IMPORT"]
DIR_DELAY_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]
DIR_BASERELOC = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]
DIR_LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]
DLLCHARACTERISTICS = {
    "DYNAMIC_BASE": 0x0040,
    "NX_COMPAT": 0x0100,
    "NO_SEH": 0x0400,
    "TERMINAL_SERVER_AWARE": 0x8000,
}


def windows_build():
    folder = os.environ.get("ASSISTANT_WINDOWS_BUILD")
    if not folder:
        raise unittest.SkipTest("ASSISTANT_WINDOWS_BUILD is not set")
    return folder


def image_path():
    return os.path.join(windows_build(), OUTPUT_NAME + ".exe")


def unsigned_image_path():
    return os.path.join(windows_build(), OUTPUT_NAME + ".unsigned.exe")


def read_cache(folder):
    """The CMake cache of a build folder as a dict of name to value."""
    values = {}
    with open(os.path.join(folder, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith(("#", "//")) or "=" not in line:
                continue
            name_type, value = line.split("=", 1)
            values[name_type.split(":", 1)[0]] = value
    return values


def expected_strings():
    """The string table the image must carry, in order."""
    cache = read_cache(windows_build())
    file_name = OUTPUT_NAME + ".exe"
    return [
        ("CompanyName", cache["ASSISTANT_COMPANY_NAME"]),
        ("FileDescription", DESCRIPTION),
        ("FileVersion", VERSION_TEXT),
        ("InternalName", file_name),
        ("LegalCopyright", cache["ASSISTANT_LEGAL_COPYRIGHT"]),
        ("OriginalFilename", file_name),
        ("ProductName", cache["ASSISTANT_PRODUCT_NAME"]),
        ("ProductVersion", VERSION_TEXT),
    ]


def align4(offset):
    return (offset + 3) & ~3


class Node:
    """One entry of a version block: wLength, wValueLength, wType, the key,
    the value's bytes and the children."""

    def __init__(self, data, offset, problems):
        if offset + 6 > len(data):
            raise ValueError(f"entry header at {offset} runs past the block")
        self.offset = offset
        self.length, self.value_length, self.type = struct.unpack_from(
            "<HHH", data, offset)
        end = offset + self.length
        if self.length < 6 or end > len(data):
            raise ValueError(f"entry at {offset}: bad wLength {self.length}")
        pos = offset + 6
        key_units = []
        while True:
            if pos + 2 > end:
                raise ValueError(f"entry at {offset}: key has no terminator")
            (unit,) = struct.unpack_from("<H", data, pos)
            pos += 2
            if unit == 0:
                break
            key_units.append(unit)
        self.key = struct.pack(f"<{len(key_units)}H", *key_units).decode(
            "utf-16-le")
        pos = align4(pos)
        value_bytes = self.value_length * (2 if self.type == 1 else 1)
        self.value = data[pos:pos + value_bytes]
        if pos + value_bytes > end:
            raise ValueError(f"{self.key}: value runs past its entry")
        pos += value_bytes
        self.children = []
        while align4(pos) < end:
            child = Node(data, align4(pos), problems)
            self.children.append(child)
            pos = child.offset + child.length
        if align4(pos) != align4(end):
            problems.append(f"{self.key}: children end at {pos}, entry at {end}")

    def child_keys(self):
        return [child.key for child in self.children]

    def text(self):
        """The value as text, with the check that it ends in one zero unit."""
        if len(self.value) < 2 or self.value[-2:] != b"\0\0":
            raise ValueError(f"{self.key}: value has no terminator")
        return self.value[:-2].decode("utf-16-le")


def resource_entries(pe):
    """Every resource as (type, name, language, data)."""
    entries = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return entries
    for type_entry in root.entries:
        for name_entry in type_entry.directory.entries:
            for lang_entry in name_entry.directory.entries:
                data_entry = lang_entry.data.struct
                entries.append((
                    type_entry.id if type_entry.name is None else str(type_entry.name),
                    name_entry.id if name_entry.name is None else str(name_entry.name),
                    lang_entry.id,
                    pe.get_data(data_entry.OffsetToData, data_entry.Size)))
    return entries


class ImageTestCase(unittest.TestCase):
    """Loads the finished image once for all tests of a class."""

    @classmethod
    def setUpClass(cls):
        cls.path = image_path()
        with open(cls.path, "rb") as f:
            cls.data = f.read()
        cls.pe = pefile.PE(data=cls.data)

    def resource(self, type_id):
        found = [e for e in resource_entries(self.pe) if e[0] == type_id]
        self.assertEqual(len(found), 1, f"resources of type {type_id}")
        return found[0]

    def version_block(self):
        data = self.resource(RT_VERSION)[3]
        problems = []
        root = Node(data, 0, problems)
        self.assertEqual(problems, [], "version block layout")
        self.assertEqual(root.length, len(data), "root wLength against resource size")
        return root


class ImageSettings(ImageTestCase):
    def test_headers(self):
        cases = [
            ("machine", self.pe.FILE_HEADER.Machine, 0x14C),
            ("optional header magic (PE32)", self.pe.OPTIONAL_HEADER.Magic, 0x10B),
            ("subsystem (Windows GUI)", self.pe.OPTIONAL_HEADER.Subsystem, 2),
            ("major subsystem version", self.pe.OPTIONAL_HEADER.MajorSubsystemVersion, 4),
            ("minor subsystem version", self.pe.OPTIONAL_HEADER.MinorSubsystemVersion, 0),
            ("executable image flag",
             self.pe.FILE_HEADER.Characteristics & 0x0002, 0x0002),
            ("DLL flag", self.pe.FILE_HEADER.Characteristics & 0x2000, 0),
        ]
        for name, actual, expected in cases:
            with self.subTest(name):
                self.assertEqual(actual, expected)

    def test_no_exports(self):
        export = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIR_EXPORT]
        self.assertEqual((export.VirtualAddress, export.Size), (0, 0))
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_EXPORT"))

    def test_checksum(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.CheckSum,
                         self.pe.generate_checksum())

    def test_pe_parses_without_warnings(self):
        self.assertEqual(self.pe.get_warnings(), [])

    def test_dll_characteristics(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for name, bit in DLLCHARACTERISTICS.items():
            with self.subTest(name):
                self.assertEqual(flags & bit, bit)
        self.assertEqual(flags & ~sum(DLLCHARACTERISTICS.values()), 0,
                         "flags beyond these: 0x%04X" % flags)

    def test_relocations_for_a_moved_base(self):
        directory = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIR_BASERELOC]
        self.assertNotEqual(directory.Size, 0)
        self.assertEqual(self.pe.FILE_HEADER.Characteristics & 0x0001, 0,
                         "relocations stripped")

    def test_no_load_configuration(self):
        directory = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIR_LOAD_CONFIG]
        self.assertEqual((directory.VirtualAddress, directory.Size), (0, 0))


class Imports(ImageTestCase):
    def test_only_known_system_libraries(self):
        imports = getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", [])
        dlls = {entry.dll.decode("ascii").lower() for entry in imports}
        self.assertEqual(dlls, STATIC_IMPORTS)
        for entry in imports:
            with self.subTest(entry.dll.decode("ascii")):
                self.assertTrue(entry.imports, "library with no imported function")
                for function in entry.imports:
                    self.assertIsNotNone(function.name,
                                         "import by ordinal only")

    def test_no_bound_or_delayed_imports(self):
        for name, index in [("bound", DIR_BOUND_IMPORT), ("delayed", DIR_DELAY_IMPORT)]:
            with self.subTest(name):
                directory = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[index]
                self.assertEqual((directory.VirtualAddress, directory.Size), (0, 0))


class Resources(ImageTestCase):
    def test_exactly_the_two_resources(self):
        found = [(t, n, lang) for t, n, lang, _ in resource_entries(self.pe)]
        self.assertEqual(sorted(found), [(RT_VERSION, 1, LANG_ZH_CN),
                                         (RT_MANIFEST, 1, LANG_EN_US)])

    def test_manifest_bytes(self):
        data = self.resource(RT_MANIFEST)[3]
        self.assertEqual(len(data), 86)
        self.assertEqual(data, MANIFEST)

    def test_manifest_source_file_unchanged(self):
        # Guards resources/assistant.manifest against line-ending conversion
        # on checkout, which would change the bytes built into the image.
        source = os.environ.get("ASSISTANT_SOURCE_DIR")
        if not source:
            self.skipTest("ASSISTANT_SOURCE_DIR is not set")
        with open(os.path.join(source, "resources", "assistant.manifest"), "rb") as f:
            self.assertEqual(f.read(), MANIFEST)


class FixedFileInfo(ImageTestCase):
    def test_root_entry(self):
        root = self.version_block()
        self.assertEqual(root.key, "VS_VERSION_INFO")
        self.assertEqual(root.type, 0)
        self.assertEqual(root.value_length, 52)
        self.assertEqual(root.child_keys(), ["StringFileInfo", "VarFileInfo"])

    def test_fields(self):
        fields = struct.unpack("<13I", self.version_block().value)
        ms, ls = 0x00030002, 0x000006BD  # 3.2 and 0.1725
        expected = [
            ("signature", 0xFEEF04BD), ("structure version", 0x00010000),
            ("file version MS", ms), ("file version LS", ls),
            ("product version MS", ms), ("product version LS", ls),
            ("file flags mask", 0x3F), ("file flags", 0),
            ("file OS", 0x00040004), ("file type", 1), ("file subtype", 0),
            ("file date MS", 0), ("file date LS", 0),
        ]
        for (name, value), actual in zip(expected, fields):
            with self.subTest(name):
                self.assertEqual(actual, value, f"0x{actual:08X}")


class StringTable(ImageTestCase):
    def table(self):
        string_file_info = self.version_block().children[0]
        self.assertEqual(string_file_info.key, "StringFileInfo")
        self.assertEqual(string_file_info.child_keys(), ["000004B0"])
        return string_file_info.children[0]

    def test_keys_in_order(self):
        self.assertEqual(self.table().child_keys(), STRING_KEYS)

    def test_values(self):
        entries = {child.key: child for child in self.table().children}
        for key, expected in expected_strings():
            with self.subTest(key):
                entry = entries[key]
                self.assertEqual(entry.type, 1, "text value")
                self.assertEqual(entry.text(), expected)
                units = len(expected.encode("utf-16-le")) // 2
                self.assertEqual(entry.value_length, units + 1,
                                 "value length in units with the terminator")

    def test_description_units(self):
        entry = next(c for c in self.table().children if c.key == "FileDescription")
        self.assertEqual(entry.value, bytes.fromhex(
            "490045003800 895b c588 a952 4b62 0000".replace(" ", "")))


class Translation(ImageTestCase):
    def test_one_pair(self):
        var_file_info = self.version_block().children[1]
        self.assertEqual(var_file_info.key, "VarFileInfo")
        self.assertEqual(var_file_info.child_keys(), ["Translation"])
        translation = var_file_info.children[0]
        self.assertEqual(translation.type, 0)
        self.assertEqual(translation.value_length, 4)
        self.assertEqual(struct.unpack("<HH", translation.value), (0x0000, 1200))


class CertificateTable(ImageTestCase):
    def security(self):
        return self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIR_SECURITY]

    def test_last_in_file(self):
        table = self.security()
        self.assertNotEqual(table.Size, 0, "no certificate table")
        self.assertEqual(table.VirtualAddress % 8, 0)
        self.assertEqual(table.VirtualAddress + table.Size, len(self.data))
        length, revision, cert_type = struct.unpack_from(
            "<IHH", self.data, table.VirtualAddress)
        self.assertEqual(revision, 0x0200, "WIN_CERT_REVISION_2_0")
        self.assertEqual(cert_type, 0x0002, "WIN_CERT_TYPE_PKCS_SIGNED_DATA")
        self.assertEqual(align_8(length), table.Size)

    def test_signed_file_is_the_unsigned_image(self):
        with open(unsigned_image_path(), "rb") as f:
            unsigned = f.read()
        unsigned_pe = pefile.PE(data=unsigned)
        directory = unsigned_pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIR_SECURITY]
        self.assertEqual((directory.VirtualAddress, directory.Size), (0, 0),
                         "the unsigned image has a certificate table")
        # The signature changes only the checksum and the certificate table
        # entry of the headers, and adds padding and the table at the end.
        checksum = unsigned_pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        entry = directory.get_file_offset()

        def masked(data):
            data = bytearray(data[:len(unsigned)])
            data[checksum:checksum + 4] = bytes(4)
            data[entry:entry + 8] = bytes(8)
            return bytes(data)

        self.assertEqual(masked(self.data), masked(unsigned))
        gap = self.data[len(unsigned):self.security().VirtualAddress]
        self.assertEqual(gap, bytes(len(gap)))


def align_8(value):
    return (value + 7) & ~7


class Signature(unittest.TestCase):
    def trust(self):
        dev = os.path.join(windows_build(), "signing", "dev-pki", "ca.pem")
        return (os.environ.get("ASSISTANT_SIGNING_CA_FILE") or dev,
                os.environ.get("ASSISTANT_TIMESTAMP_CA_FILE") or dev)

    def verify(self, ca, tsa_ca):
        result = subprocess.run(
            ["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", tsa_ca,
             "-in", image_path()],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return result.returncode, result.stdout

    def test_verifies_with_time_stamp(self):
        code, output = self.verify(*self.trust())
        self.assertEqual(code, 0, output)
        lines = [line.strip() for line in output.splitlines()]
        for expected in ["Signature verification: ok",
                         "Timestamp Server Signature verification: ok",
                         "Number of verified signatures: 1"]:
            with self.subTest(expected):
                self.assertIn(expected, lines, output)
        stamps = [line for line in lines if line.startswith("Timestamp time:")]
        self.assertEqual(len(stamps), 1, output)
        self.assertRegex(stamps[0], r"^Timestamp time: \w{3} +\d+ \d\d:\d\d:\d\d \d{4} GMT$")

    def test_fails_against_another_anchor(self):
        # A trust anchor that did not issue the signer's certificate must not
        # verify it: the check above depends on the anchor it was given.
        with tempfile.TemporaryDirectory() as folder:
            key = os.path.join(folder, "other.key")
            cert = os.path.join(folder, "other.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048",
                            "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                            "-subj", "/CN=Unrelated CA"],
                           check=True, capture_output=True)
            code, output = self.verify(cert, self.trust()[1])
        self.assertNotEqual(code, 0, output)


class VersionQuery(unittest.TestCase):
    """The platform's version queries (GetFileVersionInfoW, VerQueryValueW),
    asked under Wine by tests/image/version_query on the finished file."""

    @classmethod
    def setUpClass(cls):
        tool = os.path.join(windows_build(), "tests", "image", "version_query",
                            "version-query.exe")
        if not os.path.exists(tool):
            raise AssertionError(f"{tool} was not built")
        target = "Z:" + os.path.abspath(image_path()).replace("/", "\\")
        # Files, not pipes: a Wine service started by this call would hold a
        # pipe open for as long as the server runs.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(["wine", tool, target], stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            cls.output = out.read().decode("utf-8", errors="replace")
            errors = err.read().decode(errors="replace")
        if result.returncode != 0:
            raise AssertionError(f"version-query exited with {result.returncode}:\n"
                                 f"{cls.output}{errors}")
        cls.lines = [line.rstrip("\r") for line in cls.output.splitlines()]
        cls.values = dict(line.split("=", 1) for line in cls.lines if "=" in line)

    def test_fixed_part(self):
        expected = {
            "signature": "0xFEEF04BD",
            "file_version": VERSION_TEXT,
            "product_version": VERSION_TEXT,
            "file_flags_mask": "0x0000003F",
            "file_flags": "0x00000000",
            "file_os": "0x00040004",
            "file_type": "1",
            "file_subtype": "0",
        }
        for name, value in expected.items():
            with self.subTest(name):
                self.assertEqual(self.values.get(name), value, self.output)

    def test_translation_list(self):
        pairs = [line for line in self.lines if line.startswith("translation")]
        self.assertEqual(pairs, ["translation=0000:04B0"], self.output)

    def test_strings(self):
        for key, expected in expected_strings():
            with self.subTest(key):
                self.assertEqual(self.values.get(f"string.{key}"), expected, self.output)
                units = " ".join(f"{u:04X}" for u in struct.unpack(
                    f"<{len(expected.encode('utf-16-le')) // 2}H",
                    expected.encode("utf-16-le")))
                self.assertEqual(self.values.get(f"string.{key}.units"), units,
                                 self.output)


class Reproducible(unittest.TestCase):
    """Two clean builds of the same sources, in different folders and at
    different times, make the same unsigned image byte for byte."""

    IGNORED = {"build", ".git"}

    def copy_sources(self, origin, target):
        origin = os.path.abspath(origin)

        def ignore(folder, names):
            # Only the top level's build output and history stay behind.
            if os.path.abspath(folder) != origin:
                return []
            return [n for n in names if n in self.IGNORED]

        shutil.copytree(origin, target, ignore=ignore, symlinks=True)

    def build(self, source, build):
        env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        for command in (
                ["cmake", "-S", source, "-B", build,
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", "mingw-i686.cmake"),
                 "-DCMAKE_BUILD_TYPE=Release"],
                ["cmake", "--build", build, "--target", "assistant",
                 "-j", str(os.cpu_count() or 1)]):
            result = subprocess.run(command, env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True)
            self.assertEqual(result.returncode, 0, result.stdout)
        with open(os.path.join(build, OUTPUT_NAME + ".unsigned.exe"), "rb") as f:
            return f.read()

    def test_two_builds_are_identical(self):
        if not os.environ.get("ASSISTANT_SOURCE_DIR"):
            self.skipTest("ASSISTANT_SOURCE_DIR is not set")
        with tempfile.TemporaryDirectory(prefix="assistant-build-") as first, \
                tempfile.TemporaryDirectory(prefix="another-assistant-build-") as second:
            # Both builds start from one snapshot of the sources, each in a
            # folder of its own, with source and build paths of different
            # lengths; they run one after the other.
            one_src = os.path.join(first, "src")
            two_src = os.path.join(second, "sources", "copy")
            self.copy_sources(os.environ["ASSISTANT_SOURCE_DIR"], one_src)
            self.copy_sources(one_src, two_src)
            one = self.build(one_src, os.path.join(first, "out"))
            two = self.build(two_src, os.path.join(second, "build", "windows-elsewhere"))
        self.assertEqual(len(one), len(two), "image sizes differ")
        differing = [i for i in range(len(one)) if one[i] != two[i]]
        self.assertEqual(differing[:16], [], f"{len(differing)} bytes differ")


if __name__ == "__main__":
    unittest.main()
