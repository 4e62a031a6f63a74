#!/usr/bin/env python3
"""Checks what the shipped padprobe.exe carries.

  check_exe.py imports --objdump OBJDUMP --exe EXE DLL...
      the import table names exactly these DLLs (read with objdump -p)
  check_exe.py resources --exe EXE --version A.B.C.D
      one version resource with these numbers and names, and one application
      manifest (id 1) asking for asInvoker, long paths and Windows 7 to 11
  check_exe.py size --exe EXE --max BYTES
      the file is no larger than BYTES
"""
import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

RT_VERSION = 16
RT_MANIFEST = 24
VS_FIXED_SIGNATURE = 0xFEEF04BD
VFT_APP = 1

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


def check_imports(objdump, exe, want):
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    got = [line.split(":", 1)[1].strip() for line in dump.splitlines()
           if line.strip().startswith("DLL Name:")]
    if sorted(got) != sorted(want):
        return ["imports %s, expected exactly %s" % (got, want)]
    return []


def resources(data):
    """{(type, name, language): bytes} from the PE's resource directory."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, opt_size = struct.unpack_from("<H12xH", data, pe + 6)
    opt = pe + 24
    if struct.unpack_from("<H", data, opt)[0] != 0x20B:
        raise ValueError("not a PE32+ file")
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, opt + 112 + 2 * 8)
    if not rsrc_rva:
        return {}
    table = []
    for i in range(sections):
        vsize, va, raw_size, raw = struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8)
        table.append((va, max(vsize, raw_size), raw))

    def offset(rva):
        for va, size, raw in table:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("RVA 0x%x outside every section" % rva)

    base = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield (None if name & 0x80000000 else name), target

    out = {}
    for rtype, t in entries(0):
        for name, n in entries(t & 0x7FFFFFFF):
            for lang, leaf in entries(n & 0x7FFFFFFF):
                if leaf & 0x80000000:
                    raise ValueError("resource tree deeper than three levels")
                rva, size = struct.unpack_from("<II", data, base + leaf)
                out[(rtype, name, lang)] = data[offset(rva):offset(rva) + size]
    return out


def version_nodes(blob, pos=0):
    """One VS_VERSIONINFO node: (key, value bytes, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, pos)
    end = pos + length
    key_end = blob.index(b"\0\0", pos + 6)
    while (key_end - pos - 6) % 2:
        key_end = blob.index(b"\0\0", key_end + 1)
    key = blob[pos + 6:key_end].decode("utf-16-le")
    p = (key_end + 2 + 3) & ~3
    size = value_length * 2 if kind == 1 else value_length
    value = blob[p:p + size]
    p = (p + size + 3) & ~3
    children = []
    while p < end:
        child = version_nodes(blob, p)
        children.append(child[:3])
        p = (p + child[3] + 3) & ~3
    return key, value, children, length


def check_version(blob, version):
    key, fixed, children, _ = version_nodes(blob)
    numbers = [int(x) for x in version.split(".")]
    ms, ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    sig, _, fv_ms, fv_ls, pv_ms, pv_ls, _, _, _, ftype = struct.unpack_from("<10I", fixed)
    strings = {}
    for k, _, tables in children:
        if k == "StringFileInfo":
            for _, _, entries in tables:
                for name, value, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    checks = [
        ("root key", key, "VS_VERSION_INFO"),
        ("fixed info signature", hex(sig), hex(VS_FIXED_SIGNATURE)),
        ("FILEVERSION", (fv_ms, fv_ls), (ms, ls)),
        ("PRODUCTVERSION", (pv_ms, pv_ls), (ms, ls)),
        ("FILETYPE", ftype, VFT_APP),
        ("FileVersion", strings.get("FileVersion"), version),
        ("ProductVersion", strings.get("ProductVersion"), version),
        ("ProductName", strings.get("ProductName"), "padprobe"),
        ("OriginalFilename", strings.get("OriginalFilename"), "padprobe.exe"),
        ("InternalName", strings.get("InternalName"), "padprobe"),
        ("FileDescription present", bool(strings.get("FileDescription")), True),
    ]
    return ["version resource %s is %r, expected %r" % (what, got, want)
            for what, got, want in checks if got != want]


def check_manifest(blob):
    root = ET.fromstring(blob.decode("utf-8-sig"))
    level = root.find(".//%srequestedExecutionLevel" % ASM_V3)
    long_paths = root.find(".//%swindowsSettings/%slongPathAware" % (ASM_V3, WS2016))
    systems = {e.get("Id", "").lower() for e in root.iter(COMPAT + "supportedOS")}
    checks = [
        ("requestedExecutionLevel level", level.get("level") if level is not None else None, "asInvoker"),
        ("requestedExecutionLevel uiAccess", level.get("uiAccess") if level is not None else None, "false"),
        ("longPathAware", long_paths.text.strip().lower() if long_paths is not None else None, "true"),
        ("supportedOS", sorted(systems), sorted(SUPPORTED_OS)),
    ]
    return ["manifest %s is %r, expected %r" % (what, got, want)
            for what, got, want in checks if got != want]


def check_resources(exe, version):
    with open(exe, "rb") as f:
        res = resources(f.read())
    failures = []
    for rtype, label, check in ((RT_VERSION, "version", lambda b: check_version(b, version)),
                                (RT_MANIFEST, "manifest", check_manifest)):
        found = sorted((k for k in res if k[0] == rtype), key=str)
        # A second one (the toolchain's default manifest, say) would leave
        # it to the loader which one counts.
        if len(found) != 1 or found[0][1] != 1:
            failures.append("%s resources %s, expected exactly one with id 1" % (label, found))
            continue
        failures += check(res[found[0]])
    return failures


def check_size(exe, most):
    size = os.path.getsize(exe)
    if size > most:
        return ["%d bytes, at most %d allowed" % (size, most)]
    print("%d bytes" % size)
    return []


def main(argv):
    mode, args = argv[0], argv[1:]
    opts = {}
    while args and args[0].startswith("--"):
        opts[args[0]] = args[1]
        args = args[2:]
    if mode == "imports":
        failures = check_imports(opts["--objdump"], opts["--exe"], args)
    elif mode == "resources":
        failures = check_resources(opts["--exe"], opts["--version"])
    elif mode == "size":
        failures = check_size(opts["--exe"], int(opts["--max"]))
    else:
        raise SystemExit("unknown mode " + mode)
    for f in failures:
        print("FAIL: " + f)
    if not failures:
        print("%s: %s as expected" % (opts["--exe"], mode))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
