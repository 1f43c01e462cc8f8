"""Helpers for end-to-end tests: a real Setup.exe under Wine in the prefix that
scripts/with-wine.sh prepared, real registry values and files, and the driver program
(uidriver.exe) that reads and presses the setup's windows."""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

C = Path(os.environ.get("OLVAN_WINE_C", "/nonexistent"))
SETUP = Path(os.environ.get("OLVAN_SETUP_EXE", "Setup.exe"))
DRIVER = Path(os.environ.get("OLVAN_UIDRIVER", "uidriver.exe"))
SYSWOW64 = C / "windows" / "syswow64"
HOST_BUILD = Path(os.environ.get("OLVAN_HOST_BUILD_DIR", "build/host"))
# The common program files folder of a 32-bit process in a 64-bit prefix.
COMMON_FILES = C / "Program Files (x86)" / "Common Files"
REGINFO = COMMON_FILES / "Olvan" / "Secure Client" / "reginfo"
OLD_REGINFO = COMMON_FILES / "Talvorn" / "Secure Client" / "reginfo"
# <Windows folder>\system32 of a 32-bit process: the 32-bit system folder on disk.
BACKUP = SYSWOW64

LINE_RE = re.compile(
    rb"^\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\] (?:\[DTL\] )?\[(?:0x)?([0-9a-f]+)\] (.*)$")

ENGLISH = {"LC_ALL": "en_US.UTF-8"}
CHINESE_PRC = {"LC_ALL": "zh_CN.UTF-8"}
CHINESE_TW = {"LC_ALL": "zh_TW.UTF-8"}
# The ANSI code page a program has under each of those locales.
CODE_PAGE = {"en_US.UTF-8": 1252, "zh_CN.UTF-8": 936, "zh_TW.UTF-8": 950}


def host_tool(name):
    """A host tool of the host build (olvsign, olvpack)."""
    path = HOST_BUILD / name
    if not path.exists():
        raise AssertionError(f"{path} missing: build the host configuration first")
    return path


KEEPER = "desktop_keeper.exe"
_keeper_seen = False


def need_wine(case):
    if not C.is_dir():
        raise unittest.SkipTest("no Wine prefix: run through scripts/with-wine.sh")
    keep_desktop()


def keep_desktop():
    """Keeps one hidden window alive for the rest of the Wine session. Without it Wine ends
    its desktop process whenever the last window of a test has gone, and a program that
    opens a window while that process is still ending was seen to hang for minutes."""
    global _keeper_seen
    if _keeper_seen or process_runs(KEEPER):
        _keeper_seen = True
        return
    exe = C / KEEPER
    shutil.copy(DRIVER, exe)
    start(win_path(exe), "keep-desktop")
    _keeper_seen = wait_for(lambda: process_runs(KEEPER), timeout=30)


def _env(extra=None):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    if extra:
        env.update(extra)
    return env


# Every limit on a Wine call is multiplied by this: where Wine's 32-bit loader runs through
# qemu-i386 (a kernel without IA-32 emulation) each 32-bit process takes a minute or more.
TIME_SCALE = float(os.environ.get("OLVAN_E2E_TIME_SCALE", "1"))


def wine(*args, env=None, timeout=120, check=False, input=None):
    """Runs a Windows program to its end; returns the CompletedProcess (bytes)."""
    t0 = time.time()
    r = subprocess.run(["wine", *map(str, args)], env=_env(env), timeout=timeout * TIME_SCALE,
                       capture_output=True, check=check, input=input)
    if os.environ.get("OLVAN_E2E_TRACE") and time.time() - t0 > 3:
        print(f"[slow wine call: {time.time() - t0:.1f} s: {args}]", flush=True)
    return r


def start(*args, env=None):
    """Starts a Windows program and returns at once."""
    return subprocess.Popen(["wine", *map(str, args)], env=_env(env),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def win_path(p):
    """The Windows name of a path under the prefix's drive C."""
    p = Path(p)
    rel = p.relative_to(C)
    return "C:\\" + "\\".join(rel.parts)


def reg(*args, check=True):
    """reg.exe of the 32-bit view, the one a 32-bit Setup.exe reads."""
    r = wine("C:\\windows\\syswow64\\reg.exe", *args, "/reg:32", timeout=60)
    if check and r.returncode != 0:
        raise AssertionError(f"reg {' '.join(args)} failed: {r.stdout!r} {r.stderr!r}")
    return r


def reg_add(key, name, kind, data):
    reg("add", key, "/v", name, "/t", kind, "/d", str(data), "/f")


def reg_delete_key(key):
    reg("delete", key, "/f", check=False)


def reset_machine():
    """Removes what earlier cases left: logs, working folders, the setup's registry keys."""
    for d in ("OlvanLog", "tmp"):
        shutil.rmtree(C / d, ignore_errors=True)
    for key in ("HKLM\\SOFTWARE\\Olvan", "HKLM\\SOFTWARE\\Talvorn"):
        reg_delete_key(key)


def log_lines(pattern="setup2*.log", folder="OlvanLog"):
    """Messages of every line of the matching logs (raw bytes, without stamp and thread)."""
    out = []
    for f in sorted((C / folder).glob(pattern)):
        for raw in f.read_bytes().split(b"\r\n"):
            if not raw:
                continue
            m = LINE_RE.match(raw)
            out.append(m.group(8) if m else raw)
    return out


def setup_log():
    return log_lines("setup2*.log")


def module_log(name):
    return log_lines(f"stp_{name}2*.log")


def driver(*args, timeout=60, check=True, env=None):
    """Runs the driver; pass the setup's locale in env so texts come back in its code page."""
    cp = CODE_PAGE.get((env or ENGLISH).get("LC_ALL", "en_US.UTF-8"), 1252)
    r = wine(DRIVER, "--cp", cp, *args, timeout=timeout, env=env)
    if check and r.returncode != 0:
        raise AssertionError(f"uidriver {' '.join(map(str, args))} failed: {r.stderr!r}")
    return r.stdout.decode("ascii", "replace").strip()


class Box:
    """A dialog-class window as the driver reported it."""

    def __init__(self, line):
        hwnd, pid, style, caption, text = line.split()
        self.hwnd, self.pid, self.style = hwnd, int(pid), int(style, 16)
        self.caption = b"" if caption == "-" else bytes.fromhex(caption)
        self.text = b"" if text == "-" else bytes.fromhex(text)

    def __repr__(self):
        return f"Box({self.hwnd}, {self.caption!r}, {self.text!r})"


def boxes(env=None):
    out = driver("boxes", env=env)
    return [Box(l) for l in out.splitlines() if l.strip()]


def wait_box(not_these=(), timeout_ms=30000, env=None):
    args = ["wait", "--timeout", str(timeout_ms)]
    if not_these:
        args += ["--not", ",".join(b.hwnd for b in not_these)]
    return Box(driver(*args, timeout=timeout_ms / 1000 + 60, env=env))


def wait_box_or_exit(proc, timeout=60, env=None):
    """The first dialog-class window, or None when the process ends without one."""
    end = time.time() + timeout
    while time.time() < end:
        r = wine(DRIVER, "--cp", CODE_PAGE.get((env or ENGLISH)["LC_ALL"], 1252), "wait",
                 "--timeout", "700", timeout=60, env=env)
        if r.returncode == 0:
            return Box(r.stdout.decode().strip())
        if proc.poll() is not None:
            return None
    raise AssertionError("neither a window nor the end of the process")


def no_box_for(seconds):
    """True when no dialog-class window appears within the given time."""
    r = wine(DRIVER, "wait", "--timeout", str(int(seconds * 1000)), timeout=seconds + 30)
    return r.returncode != 0


def process_runs(image_name):
    return wine(DRIVER, "running", image_name).returncode == 0


def wait_exit(proc, timeout=60):
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise


def kill_all(*image_names):
    """Ends leftover Windows processes of the given image names."""
    for name in image_names:
        wine("C:\\windows\\syswow64\\taskkill.exe", "/f", "/im", name, timeout=60)


def wait_for(pred, timeout=30, step=0.1):
    end = time.time() + timeout * TIME_SCALE
    while time.time() < end:
        if pred():
            return True
        time.sleep(step)
    return pred()


# --- The install sequence: packages, carriers, stand-ins --------------------------------

import struct  # noqa: E402

EXE_OFFSET = 530000
MSI_OFFSET = 3300000
WORK = C / "tmp" / "OlvanSetup0"
STANDIN_AGENT = Path(os.environ.get("OLVAN_STANDIN_AGENT", "wexApxSvr.exe"))
STANDIN_INSTALLER = Path(os.environ.get("OLVAN_STANDIN_INSTALLER", "OlvanSetup.exe"))
STANDIN_7ZA = Path(os.environ.get("OLVAN_STANDIN_7ZA", "7za.exe"))
STARTER = Path(os.environ.get("OLVAN_STARTER", "olvstarter.exe"))
SEVEN_ZIP_WIN = Path(os.environ.get("OLVAN_7ZA_WIN", "7za.exe"))
SEVEN_ZIP_LINUX = Path(os.environ.get("OLVAN_7ZA_LINUX", "7za"))
CALLS = C / "standin_calls.txt"
STARTS = C / "standin_starts.txt"
PACKAGE_MARKER = b"^-=Olvan=-^ Quib "
PACKAGE_END = b"^Olvan_end^"


def mixed(data):
    """The package's byte mixing: each byte negated modulo 256 (its own inverse)."""
    return bytes((256 - b) & 0xFF for b in data)


def package_entry(name, data, name_len=None, data_len=None):
    """One entry; the length fields may be given to lie about the bytes that follow."""
    name = name.encode("ascii") if isinstance(name, str) else name
    return (struct.pack("<II", len(name) if name_len is None else name_len,
                        len(data) if data_len is None else data_len)
            + mixed(name) + mixed(data))


def package(entries, end=True):
    """A package: marker, (name, bytes) entries, end entry."""
    out = mixed(PACKAGE_MARKER) + b"".join(package_entry(n, d) for n, d in entries)
    return out + (package_entry(PACKAGE_END, b"") if end else b"")


def carrier(stub, pkg, offset=EXE_OFFSET):
    """The stub padded with zeros to the offset, then the package. For broken packages
    only: well-formed carriers come from packed()."""
    assert len(stub) < offset
    return stub + b"\0" * (offset - len(stub)) + pkg


def packed(stub, entries, offset=EXE_OFFSET):
    """A well-formed carrier built by the release tool itself (olvpack build, which also
    verifies it): the stub, zeros up to the offset, then a package of the (name, bytes)
    entries, in olvpack's order (by name). Tests pack stand-in stubs and partial payloads on
    purpose: --allow-incomplete."""
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        (tmp / "stub").write_bytes(stub)
        payload = tmp / "payload"
        payload.mkdir()
        for name, data in entries:
            (payload / name).write_bytes(data)
        out = tmp / "carrier"
        built = subprocess.run([str(host_tool("olvpack")), "build", "--stub", str(tmp / "stub"),
                                "--payload", str(payload), "--output", str(out),
                                "--offset", str(offset), "--allow-incomplete"],
                               capture_output=True)
        if built.returncode != 0:
            raise AssertionError("olvpack build failed: " + built.stderr.decode(errors="replace"))
        return out.read_bytes()


def seven_zip(archive, files):
    """Makes a .7z archive of {relative path: bytes} with the Linux 7-Zip."""
    import tempfile
    with tempfile.TemporaryDirectory() as d:
        for rel, data in files.items():
            p = Path(d) / rel
            p.parent.mkdir(parents=True, exist_ok=True)
            p.write_bytes(data)
        archive = Path(archive).resolve()
        if archive.exists():
            archive.unlink()
        subprocess.run([str(SEVEN_ZIP_LINUX), "a", "-bd", "-y", str(archive), "."], cwd=d,
                       check=True, capture_output=True)
    return Path(archive).read_bytes()


def standin_calls():
    """[(program, arguments)] in the order the stand-ins recorded them."""
    if not CALLS.exists():
        return []
    out = []
    for line in CALLS.read_bytes().decode("ascii", "replace").splitlines():
        if line.strip():
            prog, _, what = line.partition("|")
            out.append((prog, what))
    return out


# --- The setup's own lines of the setup log ("Setup: ...") ------------------------------

# The version that Setup.exe's version resource holds when nothing stamped another.
VERSION = b"1.0.0.0"
ROOT = Path(__file__).resolve().parents[2]


def _install_error_texts():
    """{number: text} as package/install_errors.h gives them: the one source of the words
    that the setup log and the release tool print."""
    header = (ROOT / "package" / "install_errors.h").read_text()
    rows = re.findall(r'X\(k\w+,\s*(\d+),((?:\s*\\?\s*"[^"]*")+)\s*\)', header)
    return {int(n): "".join(re.findall(r'"([^"]*)"', texts)).encode() for n, texts in rows}


INSTALL_ERROR_TEXTS = _install_error_texts()
EXIT_MEANINGS = {0: b"success", 3010: b"success, restart needed", 1602: b"password not given",
                 1603: b"install failed", 1618: b"another setup or the updater runs"}


def start_line(exe_win_path, bound=True, version=VERSION):
    return b"Setup: %s started from %s; the package is %s" % (
        version, exe_win_path.encode(), b"bound" if bound else b"not bound")


def end_line(code, installer=False):
    """installer: the code is the installer's own outcome, named as such unless a success."""
    if installer and code not in (0, 3010, 1641):
        meaning = b"the installer's own code"
    else:
        meaning = EXIT_MEANINGS[code] if code in EXIT_MEANINGS else INSTALL_ERROR_TEXTS[code]
    return b"Setup: ended with exit code %d (%s)" % (code, meaning)


def error_line(number):
    return b"Setup: error %d: %s" % (number, INSTALL_ERROR_TEXTS[number])


def assert_subsequence(case, lines, expected):
    """expected (whole lines) appear in lines in this order, others possibly between."""
    at = 0
    for line in expected:
        case.assertIn(line, lines[at:], (line, lines))
        at = lines.index(line, at) + 1


def assert_run_ends(case, log, code, installer=False):
    """The last two lines of a run that reached the end of the checks: the end line with
    the exit code the setup gave, then "Exit main"."""
    case.assertEqual(log[-2:], [end_line(code, installer), b"Exit main"])
    case.assertEqual(sum(l.startswith(b"Setup: ended") for l in log), 1, log)


def assert_whole_upgrade(case, log, code=0):
    """The setup log and the stand-ins' record of a whole upgrade: no install error, the
    installer waited for, the agent run three times and the installer once."""
    case.assertNotIn(b"install failed", b"\n".join(log))
    case.assertTrue(any(l.startswith(b"is-stp ended at ") for l in log), log)
    assert_run_ends(case, log, code)
    case.assertEqual([c for c in standin_calls() if c[1] != "end"],
                     [("wexApxSvr.exe", "-uninstallwmark"), ("wexApxSvr.exe", "-setUpdInfo"),
                      ("wexApxSvr.exe", "-exitwexclient"), ("OlvanSetup.exe", "")])


def install_folder(name="setupdir"):
    """A fresh folder on drive C for the setup program and its carrier."""
    d = C / name
    shutil.rmtree(d, ignore_errors=True)
    d.mkdir(parents=True)
    return d


def exit_code(code):
    """The setup's exit code as Linux sees a Wine program's: its low 8 bits."""
    return code & 0xFF


def run_hidden(exe, timeout=30):
    """Runs a Setup.exe on a window station nobody sees (as under a service); returns the
    station's UOI_FLAGS and the setup's whole exit code, or None when it did not end."""
    out = driver("hidden-station", exe, str(int(timeout * 1000)), timeout=timeout + 60,
                 check=False)
    flags, code = (int(v) for v in out.split()[1::2]) if out.startswith("flags") else (0, None)
    return flags, (None if code == 0xFFFFFFFF else code)


def run_setup(exe, env=None, timeout=240):
    """Runs a Setup.exe copy to its end; returns its exit code (low 8 bits)."""
    r = wine(win_path(exe), env=env or ENGLISH, timeout=timeout)
    return r.returncode


def tree(folder):
    """Relative POSIX paths of every file and folder below folder, sorted."""
    folder = Path(folder)
    return sorted(str(p.relative_to(folder)) + ("/" if p.is_dir() else "")
                  for p in folder.rglob("*"))


def contents(folder):
    """{relative POSIX path: bytes, or "/" for a folder} of everything below folder."""
    folder = Path(folder)
    return {str(p.relative_to(folder)): "/" if p.is_dir() else p.read_bytes()
            for p in folder.rglob("*")}


def watch(folder, event, name, victim, aside, mode, source, nth=1):
    """Starts the attacker (olvwatch of the host build): at the first (or nth) create, delete
    or open of name (or of anything, "*") in folder it renames victim to aside and puts a
    symbolic link to source ("link") or the folder source ("move") in its place. Returns once
    the watch is set; the process exits 0 when it fired."""
    p = subprocess.Popen([str(host_tool("olvwatch")), "--nth", str(nth), str(folder), event, name,
                          str(victim), str(aside), mode, str(source)], stdout=subprocess.PIPE,
                         text=True)
    if p.stdout.readline().strip() != "ready":
        p.kill()
        raise AssertionError("olvwatch did not start")
    return p


def fired(watcher, timeout=10):
    """True when the attacker made its swap; it is ended otherwise."""
    try:
        return watcher.wait(timeout) == 0
    except subprocess.TimeoutExpired:
        watcher.kill()
        watcher.wait()
        return False
    finally:
        watcher.stdout.close()


def reset_install_machine():
    """reset_machine(), also when C:\\tmp, the working folder or the log folder is a link or
    a plain file, without what was moved aside beside C:\\tmp and the stand-ins' record of
    calls."""
    for p in (WORK, C / "tmp", C / "OlvanLog"):
        if p.is_symlink() or p.is_file():
            p.unlink()
    # What the setup moved aside, and folders that tests renamed away.
    for p in [*C.glob("tmp?*"), *C.glob("OlvanLog?*"), *C.glob("moved*.log")]:
        if p.is_symlink() or p.is_file():
            p.unlink()
        else:
            shutil.rmtree(p, ignore_errors=True)
    reset_machine()
    CALLS.unlink(missing_ok=True)
    STARTS.unlink(missing_ok=True)
