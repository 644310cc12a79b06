#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/<target>/ and the kept fault inputs of
fuzz/crashes/<target>/.

The targets read their input with FuzzedDataProvider: texts from the start (each ended by a
backslash and one more byte; a backslash inside a text is doubled) and choice numbers from the
end (the first number read is the last bytes of the file, most significant byte last). A seed is
therefore its texts, one per line, followed by its choice bytes. Rerun this after changing the
order in which a target reads its input:

    python3 fuzz/make_seeds.py
"""

import pathlib

FUZZ = pathlib.Path(__file__).resolve().parent

GUID = "{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}"
BUNDLE_GUID = "{0D5B7A1C-0C83-4C2E-9F1B-0A7B3D0E1E11}"


def u8(value):
    return [(value, 1, 0)]


def u16(value):
    return [(value, 2, 0)]


def u32(value):
    return [(value, 4, 0)]


def i8(value):
    return [(value, 1, -(1 << 7))]


def i16(value):
    return [(value, 2, -(1 << 15))]


def encode(texts, choices):
    """texts: str or bytes in reading order; choices: (value, width, minimum) in reading order."""
    head = b""
    for text in texts:
        raw = text.encode("latin-1") if isinstance(text, str) else text
        head += raw.replace(b"\\", b"\\\\") + b"\\\n"
    read = []  # bytes in the order FuzzedDataProvider takes them from the end
    for value, width, minimum in choices:
        raw = value - minimum
        read += [(raw >> (8 * (width - 1 - i))) & 0xFF for i in range(width)]
    return head + bytes(reversed(read))


def write(target, name, data, kind="corpus"):
    folder = FUZZ / kind / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def command_seeds():
    # Flags: bits 0-1 root (1 HKLM, 2 HKU, 3 HKCU), bit 2 64-bit view, bit 3 WindowsInstaller.
    rows = {
        "msi_product": (13, [GUID, "Contoso Tool", "2.4.1", "C:\\Program Files\\Contoso\\",
                             "MsiExec.exe /I" + GUID, "", ""]),
        "msi_code_only": (1, [GUID.lower(), "Contoso Tool", "2.4.1", "", "", "", ""]),
        "msiexec_lowercase_x": (5, ["Contoso Tool", "Contoso Tool", "2.4.1", "",
                                    "\"C:\\Windows\\System32\\msiexec.exe\" /x " + GUID + " /qb",
                                    "", ""]),
        "inno_quiet": (5, ["Contoso Tool_is1", "Contoso Tool", "2.4.1",
                           "C:\\Program Files\\Contoso\\",
                           "\"C:\\Program Files\\Contoso\\unins000.exe\"",
                           "\"C:\\Program Files\\Contoso\\unins000.exe\" /SILENT", ""]),
        "nsis_unquoted": (1, ["Contoso Tool", "Contoso Tool", "2.4", "",
                              "C:\\Program Files (x86)\\Contoso\\uninstall.exe", "", ""]),
        "bundle_exe_args": (3, [BUNDLE_GUID, "Contoso Tool", "2.4.1", "",
                                "\"C:\\ProgramData\\Package Cache\\" + BUNDLE_GUID +
                                "\\contoso_bundle.exe\" /uninstall", "", "/quiet /norestart"]),
        "quote_in_path": (2, ["Contoso Tool", "Contoso Tool", "2.4.1", "",
                              "\"C:\\Program\"Files\\evil.exe\" /S", "", ""]),
        "installshield": (1, ["{9A8B7C6D-5E4F-4A3B-2C1D-0E9F8A7B6C5D}", "Contoso Tool", "2.4.1",
                              "", "C:\\Program Files (x86)\\InstallShield Installation "
                              "Information\\{9A8B7C6D-5E4F-4A3B-2C1D-0E9F8A7B6C5D}\\setup.exe "
                              "-runfromtemp -l0x0409 -removeonly", "", ""]),
    }
    cyrillic = "C:\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b\\\u30bd"
    rows["unicode_paths"] = (1, ["\u041a\u043e\u043d\u0442\u043e\u0441\u043e_is1".encode(),
                                 "\u041a\u043e\u043d\u0442\u043e\u0441\u043e".encode(), "2.4",
                                 cyrillic.encode(),
                                 ("\"" + cyrillic + "\\unins000.exe\"").encode(),
                                 ("\"" + cyrillic + "\\unins000.exe\" /SILENT").encode() +
                                 b" \xed\xa0\x80 \xff", ""])
    for name, (flags, texts) in rows.items():
        write("command_fuzzer", name, encode(texts, u8(flags)))


def version_seeds():
    # Texts: a, b, c, candidate, ExactVersion, SeriesPrefix, MinVersion, MaxVersion,
    # display_name, display_version. Choice: match type (0 Exact, 1 Series, 2 Range).
    rows = {
        "exact": (0, ["2.4.1", "2.4.1.0", "10.0", "2.4.1", "2.4.1", "2.4", "1.0", "2.9",
                      "Contoso Tool 2.4.1", "2.4.1"]),
        "series_padded": (1, ["v3.11.4", " 3.11 ", "3.11.4.0", "3.11.4", "", "3.11", "", "",
                              "Runtime 3.11.4 (x64)", ""]),
        "range_year": (2, ["2147483648.1", "1..2", "...", "2019", "", "", "2016", "2019",
                           "Office 2016", ""]),
        "python_component": (1, ["3.8.10150.0", "3.8.10", "3.8", "3.8.10150.0", "", "3.8", "",
                                 "", "Python 3.8.10 Core Interpreter (64-bit)", "3.8.10150.0"]),
        "camtasia": (2, ["21.0.2", "21.0.10", "2021", "21.0.2", "", "", "20", "21.1",
                         "Camtasia 2021", "21.0.2"]),
    }
    for name, (kind, texts) in rows.items():
        write("version_fuzzer", name, encode(texts, u8(kind)))


OPTION_WORDS = ["-displayName", "-matchType", "-nameMatch", "-exactVersion", "-seriesPrefix",
                "-minVersion", "-maxVersion", "-exeArgs", "-whatIf", "Exact", "Series", "Range",
                "Prefix", "Contains", "2.4.1", "Contoso Tool"]


def options_seed(args):
    """args: known words by text (case flip mask 0), anything else as a raw text."""
    picks, texts = [], []
    for arg in args:
        if arg in OPTION_WORDS:
            picks.append(OPTION_WORDS.index(arg))
        else:
            picks.append(0x80)
            texts.append(arg)
    return encode(texts, u8(len(args)) + [c for p in picks for c in u8(p)])


def options_seeds():
    exe = "C:\\Program Files\\Orvelle\\app_varnok.exe"
    write("options_fuzzer", "exact", options_seed(
        [exe, "-displayName", "Contoso Tool", "-matchType", "Exact", "-exactVersion", "2.4.1"]))
    write("options_fuzzer", "range_whatif", options_seed(
        [exe, "-displayName", "Contoso Tool", "-matchType", "Range", "-minVersion", "1.0",
         "-maxVersion", "2.9", "-whatIf"]))
    write("options_fuzzer", "series_prefix_exeargs", options_seed(
        [exe, "-displayName", "Contoso", "-nameMatch", "Prefix", "-matchType", "Series",
         "-seriesPrefix", "2", "-exeArgs", "/S /norestart"]))
    write("options_fuzzer", "value_option_last", options_seed(
        [exe, "-matchType", "Exact", "-exactVersion", "2.4.1", "-displayName"]))
    write("options_fuzzer", "value_is_option_word", options_seed(
        [exe, "-displayName", "-whatIf", "-matchType", "Series", "-seriesPrefix", "-exeArgs"]))
    # Names in any script arrive as UTF-8; an unpaired surrogate in its generalised form; bytes
    # that are not UTF-8 (which no Windows text gives) and line separators.
    write("options_fuzzer", "unicode_names", options_seed(
        [exe, "-displayName", "\u041f\u043e\u0447\u0442\u0430 \u6d4f\u89c8\u5668".encode(),
         "-matchType", "Exact", "-exactVersion", "1.0", "-exeArgs",
         b"/D=C:\\\xe3\x82\xbd\xed\xa0\x80 \xe2\x80\xa8\xc2\x85 \xff\xc3"]))


def log_seed(flags, date, time, thread, rotations, texts, size_seed=2):
    year, month, day = date
    hour, minute, second, millisecond = time
    choices = (u8(flags) + i16(year) + i8(month) + i8(day) + i8(hour) + i8(minute) + i8(second) +
               i16(millisecond) + u32(thread) + u16(rotations) + u32(size_seed))
    return encode(texts, choices)


def log_seeds():
    agent = "C:\\Program Files (x86)\\Orvelle\\Fleetmoor\\FMAgent"
    write("log_fuzzer", "line_breaks", log_seed(
        0, (2026, 9, 15), (14, 3, 7, 42), 5120, 501,
        ["param_name : ExeArgs; param_value : \"/S\r\n/norestart\";", agent, "",
         "C:/Program Files//Orvelle\\\\logs/"]))
    write("log_fuzzer", "literal_backslash_n", log_seed(
        1, (2026, 1, 1), (0, 0, 0, 0), 4294967295, 1,
        ["remarks : \"C:\\new\\readme.txt\";", "\\\\server\\share\\agent\\",
         "fmprereqhandler.log", "\\\\server\\share"]))
    # Doubled six times (bits 5-7 set): a few kilobytes. Longer messages come from mutations; a
    # megabyte seed would make most runs slow.
    write("log_fuzzer", "long_message", log_seed(
        0xE0 | (6 << 1), (-1, -1, 127), (-128, 99, 60, 1000), 0, 0,
        ["a DisplayName written by a hostile user\r\n" * 2, "", "..\\logs", "/"]))
    # An odd seed: lines of up to 70,000 bytes, so that a few hundred lines pass 3 MiB.
    write("log_fuzzer", "large_lines_rotate", log_seed(
        0, (2026, 12, 8), (23, 59, 59, 999), 1, 1200,
        ["\x1b[2J\x07 terminal control in a DisplayName", "C:\\FMAgent", "", "C:\\FMAgent\\logs"],
        size_seed=0x12345677))


def inventory_row(name_pick, values, fail=False):
    """values: (name pick, type pick, data mode); returns the row's choice bytes."""
    pick = name_pick | (0x10 if fail else 0) | (len(values) << 5)
    out = u8(pick)
    for value in values:
        out += u8(value[0]) + u8(value[1]) + u8(value[2])
    return out


def inventory_location(create, rows, open_error=0, enum=None, sid_pick=None):
    pick = (1 if create else 0) | (open_error << 1) | (0x10 if enum else 0) | (len(rows) << 5)
    out = u8(pick)
    if sid_pick is not None:
        out += u8(sid_pick)
    if enum:
        out += u8(enum[0]) + u8(enum[1])
    for row in rows:
        out += row
    return out


# Value name picks: 0 DisplayName, 1 DisplayVersion, 2 Publisher, 3 InstallLocation,
# 4 UninstallString, 5 QuietUninstallString, 6 WindowsInstaller, 7 a text.
# Type picks: 0 REG_SZ, 4 REG_EXPAND_SZ, 5 REG_BINARY, 6 REG_DWORD. Data modes: 0 terminated
# text, 1 text alone, 2 no bytes, 3 a lone NUL (0xFC, a terminated megabyte, is left to the
# fuzzer: as a seed it would make most runs slow).
def inventory_seeds():
    # Running as a user: two machine views and HKEY_CURRENT_USER, which cannot be opened.
    choices = u8(0)
    choices += inventory_location(True, [
        inventory_row(0, [(0, 0, 0), (1, 0, 0), (4, 0, 0), (6, 6, 1)]),
        inventory_row(2 << 2, [(0, 0, 0), (4, 0, 0), (5, 0, 0)]),
    ])
    choices += inventory_location(True, [
        inventory_row(1, [(0, 0, 1), (1, 4, 0), (2, 0, 3), (3, 0, 2)]),
    ])
    choices += inventory_location(True, [], open_error=2)
    choices += u8(0)
    texts = ["Contoso Tool", "2.4.1", "MsiExec.exe /I" + GUID, b"\x01\x00\x00\x00",
             "Contoso Tool", "\"C:\\Program Files\\Contoso\\unins000.exe\"",
             "\"C:\\Program Files\\Contoso\\unins000.exe\" /SILENT",
             "Contoso Tool 32", "Contoso Tool", "%SystemRoot%\\2.4"]
    write("inventory_fuzzer", "user_views", encode(texts, choices))

    # LocalSystem with two user hives (one of them a _Classes hive), an enumeration error and a
    # row name too long for the enumeration buffer.
    choices = u8(1 | (2 << 1))
    choices += inventory_location(False, [])
    choices += inventory_location(True, [
        inventory_row(2 | (2 << 2), [(0, 0, 0)]),
        inventory_row(1 << 2, [(0, 0, 0), (1, 0, 1)]),
    ], enum=(0, 2))
    choices += inventory_location(True, [inventory_row(0, [(0, 0, 0)])])
    choices += inventory_location(True, [inventory_row(1 << 2, [(0, 0, 0), (7, 0, 0)])],
                                  sid_pick=0)
    choices += inventory_location(True, [inventory_row(1 << 2, [(0, 0, 0)])], sid_pick=1)
    choices += u8(0)
    texts = ["Long Name Row", b"Contoso\x00Tool", "2.4.1", "HKCU row", "Contoso Tool (user)",
             "InstallDate", "20260915", "Classes row"]
    write("inventory_fuzzer", "system_hives", encode(texts, choices))

    # Names and values in scripts no code page holds, and bytes that are not UTF-8.
    choices = u8(0)
    choices += inventory_location(True, [
        inventory_row(0, [(0, 0, 0), (1, 0, 0), (4, 0, 0)]),
        inventory_row(2 << 2, [(0, 0, 0), (4, 0, 0)]),
    ])
    choices += inventory_location(True, [], open_error=2)
    choices += inventory_location(True, [], open_error=2)
    choices += u8(0)
    texts = ["\u6d4f\u89c8\u5668 \u30bd".encode(), "2.4",
             "\"C:\\\u30bd\\uninst.exe\"".encode(), b"Caf\xe9 \xed\xa0\x80",
             b"\"C:\\\xff\\u.exe\""]
    write("inventory_fuzzer", "unicode_rows", encode(texts, choices))



def driver_entry(shape, name, version, uninstall, quiet, key, location, outcome):
    return [c for v in (shape, name, version, uninstall, quiet, key, location, outcome)
            for c in u8(v)]


def driver_seed(flags, pattern, versions, entries, folders, texts, exe_args=None):
    if exe_args is not None:
        flags |= 0x20
    choices = u8(flags) + u8(pattern) + [c for v in versions for c in u8(v)]
    if exe_args is not None:
        choices += u8(exe_args)
    choices += u8(len(entries))
    for entry in entries:
        choices += driver_entry(*entry)
    choices += [c for v in folders for c in u8(v)]
    return encode(texts, choices)


# Picks follow the lists in driver_fuzzer.cpp; 0x80 takes a text instead. Flags: bit 0 WhatIf,
# bits 1-2 name match (0 Exact, 1 Prefix, 2 Contains), bits 3-4 match type (0 Exact, 1 Series,
# 2 Range), bit 5 ExeArgs. Shape: root (1 HKLM, 2 HKU, 3 HKCU) | 4 for the 64-bit view | 8 for
# WindowsInstaller. Outcome: exit code pick | gone-after pick << 3.
def driver_seeds():
    # A setup bundle with its nested package and a shared uninstaller that takes a minute.
    write("driver_fuzzer", "bundle_then_nested", driver_seed(
        2 << 1, 0, [0, 0, 0, 0],
        [(5, 0, 0, 2, 0, 4, 0, 0), (13, 0, 0, 0, 0, 0, 1, 0), (1, 3, 0, 5, 0, 3, 1, 7 << 3)],
        [1, 0, 0, 0], []))
    # Python's bundle whose process succeeds but whose row stays, and its component packages.
    write("driver_fuzzer", "python_series", driver_seed(
        (1 << 1) | (1 << 3), 3, [0, 0x80, 0, 0],
        [(5, 4, 6, 3, 0, 5, 0, 4 | (2 << 3)), (13, 5, 6, 0, 0, 0, 0, 0),
         (13, 6, 6, 1, 0, 6, 0, 0)],
        [0, 0, 0, 0], ["3.8"]))
    # A refused command, a protected shell row and a version taken from the display name.
    rows = [(5, 0, 2, 9, 0, 2, 0, 5 | (2 << 3)), (5, 12, 0, 4, 0, 3, 0, 0),
            (1, 2, 9, 4, 4, 3, 1, 6 | (13 << 3))]
    write("driver_fuzzer", "whatif_range", driver_seed(
        1 | (2 << 1) | (2 << 3), 1, [0, 0, 4, 0x80], rows, [0, 0, 0, 0], ["2.9"]))
    write("driver_fuzzer", "failures_range", driver_seed(
        (2 << 1) | (2 << 3), 1, [0, 0, 4, 0x80], rows, [1 | (3 << 3), 0, 0, 0], ["2.9"],
        exe_args=0))


def crash_inputs():
    # A REG_DWORD WindowsInstaller value of zero bytes (type pick 6, data mode 2) once made
    # ReadWindowsInstallerFlag pass a null pointer to memcpy.
    choices = u8(0) + inventory_location(True, [inventory_row(0, [(0, 0, 0), (6, 6, 2)])])
    choices += inventory_location(False, []) + inventory_location(False, []) + u8(0)
    write("inventory_fuzzer", "empty_windowsinstaller_dword", encode(["Contoso Tool"], choices),
          kind="crashes")
    # LocalSystem with one loaded hive whose name holds the text "entry_count", and no Uninstall
    # key in it: the "not accessible" line names it, and an invariant that counted every line
    # holding "entry_count" once counted two closing lines.
    choices = u8(1 | (1 << 1)) + inventory_location(False, []) + inventory_location(False, [])
    choices += inventory_location(False, []) + inventory_location(False, [], sid_pick=0x80)
    choices += u8(0)
    write("inventory_fuzzer", "hive_named_entry_count",
          encode(["S-1-5-21-1-2-3-1001; entry_count : 7;"], choices), kind="crashes")


if __name__ == "__main__":
    command_seeds()
    version_seeds()
    options_seeds()
    log_seeds()
    inventory_seeds()
    driver_seeds()
    crash_inputs()
