#!/usr/bin/env bash
# Renders the password dialog under Xvfb to PNG files in docs/: in English and in Chinese
# (code page 936 texts), each as it opens and after a wrong entry.
#   scripts/dialog-pictures.sh [build/win32] [build/host]
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -euo pipefail
cd "$(dirname "$0")/.."
WIN=${1:-build/win32}
HOST=${2:-build/host}
for f in "$WIN/Setup.exe" "$WIN/uidriver.exe" "$HOST/olvsign"; do
  [ -e "$f" ] || { echo "dialog-pictures: $f missing; build both configurations first" >&2; exit 1; }
done
export PW_STORED=$("$HOST/olvsign" encrypt demo-password)
export WIN HOST
scripts/with-wine.sh bash -c '
set -euo pipefail
R="C:\\windows\\syswow64\\reg.exe"
# Windows draw their own frames and captions: there is no window manager under Xvfb.
wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f >/dev/null
wine $R add "HKLM\\SOFTWARE\\Olvan" /v Uninstall /t REG_DWORD /d 1 /f /reg:32 >/dev/null
wine $R add "HKLM\\SOFTWARE\\Olvan" /v UninstallPwd /t REG_SZ /d "$PW_STORED" /f /reg:32 >/dev/null
wine $R add "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3D9F7B60-2E48-41C5-B07A-95E1C4F8D26B}" /v DisplayVersion /t REG_SZ /d 7.0.1 /f /reg:32 >/dev/null
for lang in en zh; do
  if [ $lang = zh ]; then loc=zh_CN.UTF-8; cp=936; else loc=en_US.UTF-8; cp=1252; fi
  LC_ALL=$loc wine "$WIN/Setup.exe" & pid=$!
  line=$(LC_ALL=$loc wine "$WIN/uidriver.exe" --cp $cp wait)
  h=${line%% *}
  sleep 1
  # Crop to the middle of the 1280x1024 screen, where the dialog is centred.
  import -window root -crop 420x200+430+412 +repage "docs/pwd-dialog-$lang.png"
  LC_ALL=$loc wine "$WIN/uidriver.exe" settext $h 1001 $(printf wrong | xxd -p)
  LC_ALL=$loc wine "$WIN/uidriver.exe" click $h 1
  sleep 1
  import -window root -crop 420x200+430+412 +repage "docs/pwd-dialog-$lang-wrong.png"
  LC_ALL=$loc wine "$WIN/uidriver.exe" click $h 2
  wait $pid || true
done
'
ls -l docs/pwd-dialog-*.png
