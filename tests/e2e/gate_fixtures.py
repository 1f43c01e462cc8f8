"""Installed-client state for the password-gate tests: customization files in the store,
their verification files (made by olvsign, the release engineers' tool), backups in the
system folder, registry values and uninstall keys."""
import shutil
import subprocess

from olvan_e2e import *  # noqa: F401,F403

NEW_PRODUCT = ("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
               "{3D9F7B60-2E48-41C5-B07A-95E1C4F8D26B}")
OLD_PRODUCT = ("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
               "{A7C41D02-B95E-4E6A-8C13-6F0D2B9E4A31}")
OLVAN_KEY = "HKLM\\SOFTWARE\\Olvan"
OLD_OLVAN_KEY = "HKLM\\SOFTWARE\\Talvorn\\Olvan"

VRF = {"OlvanCustom.xml": "OlvanCustomXml.vrf", "OlvanUninstallInfo.xml": "OlvanUninstallInfoXml.vrf",
       "OlvanCustom.ini": "OlvanCustom.vrf", "OlvanUninstallInfo.ini": "OlvanUninstallInfo.vrf"}
STORE_FILES = list(VRF) + list(VRF.values())


def olvsign(*args):
    r = subprocess.run([str(host_tool("olvsign")), *map(str, args)], capture_output=True)
    if r.returncode != 0:
        raise AssertionError(f"olvsign {args} failed: {r.stderr!r}")
    return r.stdout.decode().strip()


def stored(password):
    """The stored text form of a password."""
    return olvsign("encrypt", password)


def reset_store():
    reset_machine()
    shutil.rmtree(COMMON_FILES / "Olvan", ignore_errors=True)
    shutil.rmtree(COMMON_FILES / "Talvorn", ignore_errors=True)
    for name in STORE_FILES + ["custom.ico"]:
        (BACKUP / name).unlink(missing_ok=True)
    reg_delete_key(NEW_PRODUCT)
    reg_delete_key(OLD_PRODUCT)


def custom_xml(uninstall=None, password=None, icon=None):
    fields = ""
    if uninstall is not None:
        fields += f"<uninstall>{uninstall}</uninstall>"
    if password is not None:
        fields += f"<uninstallPassword>{password}</uninstallPassword>"
    logo = f"<logoOptions><CusIconName>{icon}</CusIconName></logoOptions>" if icon else ""
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<msg><content><functions>{fields}</functions>{logo}</content></msg>\n'


def uninstall_xml(uninstall, password):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<msg><content><uninstallInfo>'
            f"<uninstall>{uninstall}</uninstall><uninstallPass>{password}</uninstallPass>"
            "</uninstallInfo></content></msg>\n")


def ini(uninstall, password):
    return f"[Functions]\r\nUninstall={uninstall}\r\nInstall={password}\r\n"


def put(folder, name, text, sign=True, icon=None):
    """Writes a store file and, unless told otherwise, its verification file."""
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / name
    path.write_bytes(text.encode() if isinstance(text, str) else text)
    if sign:
        args = ["sign", path, folder / VRF[name], "--filler-seed", name]
        if icon:
            args += ["--icon", icon]
        olvsign(*args)
    return path


def damage(path):
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 0x20
    path.write_bytes(bytes(data))


def make_icon(path, seed=7):
    """An icon-sized file whose bytes 512-543 differ from the default fingerprint."""
    data = bytes((i * seed + 3) % 256 for i in range(766))
    path.write_bytes(data)
    return path


def installed(new=True, old=False, version="7.0.1"):
    if new:
        reg_add(NEW_PRODUCT, "DisplayVersion", "REG_SZ", version)
    if old:
        reg_add(OLD_PRODUCT, "DisplayVersion", "REG_SZ", version)


def gate_lines():
    """The gate's own lines in the module log, prefix removed."""
    return [l[len(b"IsUninstallPrompt:"):] for l in module_log("setup")
            if l.startswith(b"IsUninstallPrompt:")]
