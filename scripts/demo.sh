#!/usr/bin/env bash
# Demo: a whole upgrade. Builds Setup.exe and the release tool, makes a demo payload (the
# real 7-Zip console, three archives made with the Linux 7-Zip, customization files, and
# stand-ins for the client's agent and installer that record how they were called), packs
# it with olvpack, runs the upgrade under Wine in a scratch prefix, and shows the setup log,
# the programs the setup started and the working folder's tree.
#   scripts/demo.sh              upgrade of an unprotected client
#   scripts/demo.sh --protected  the installed client is protected by an uninstall password:
#                                the driver program types a wrong one, then the right one
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -euo pipefail
PROTECTED=
case "${1:-}" in
  --protected) PROTECTED=1 ;;
  "") ;;
  *) echo "usage: scripts/demo.sh [--protected]" >&2; exit 2 ;;
esac
export PROTECTED
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then scripts/setup-machine.sh; fi

DEPS=${OLVAN_DEPS:-/opt/olvan-deps}
SZ_WIN="$DEPS/npm/node_modules/7zip-bin/win/ia32/7za.exe"
SZ_LINUX="$DEPS/npm/node_modules/7zip-bin/linux/x64/7za"

echo "== building Setup.exe (build/win32) and olvpack (build/host-release)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 | tail -n 1
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j2 --target olvpack olvsign | tail -n 1

DEMO=build/demo
rm -rf "$DEMO"
mkdir -p "$DEMO/payload" "$DEMO/src/Qt/Qt" "$DEMO/src/tool/tool" "$DEMO/src/cfg/UrlCmdCustomCfg"
P="$DEMO/payload"
cp "$SZ_WIN" "$P/7za.exe"
echo "Qt runtime (demo)" > "$DEMO/src/Qt/Qt/Qt5Core.dll"
echo "[Paths]" > "$DEMO/src/Qt/qt.conf"
echo "diagnostics tool (demo)" > "$DEMO/src/tool/tool/diag.txt"
echo "<managedConfig/>" > "$DEMO/src/cfg/UrlCmdCustomCfg/managed.xml"
(cd "$DEMO/src/Qt" && "$SZ_LINUX" a -bd -y ../../payload/Qt.7z . >/dev/null)
(cd "$DEMO/src/tool" && "$SZ_LINUX" a -bd -y ../../payload/tool.7z . >/dev/null)
(cd "$DEMO/src/cfg" && "$SZ_LINUX" a -bd -y ../../payload/UrlCmdCustomCfg.7z . >/dev/null)
printf '<locations><location name="HQ"/></locations>\r\n' > "$P/locations.xml"
printf '[conn]\r\nserver=access.example\r\n' > "$P/conn_cfg.ini"
printf '<portal url="https://portal.example"/>\r\n' > "$P/Portal-cfg.xml"
cp build/win32/standins/wexApxSvr.exe build/win32/standins/OlvanSetup.exe "$P/"

echo "== packing"
build/host-release/olvpack build --stub build/win32/Setup.exe --payload "$P" --output "$DEMO/Setup.exe"
build/host-release/olvpack list "$DEMO/Setup.exe"

echo "== running the upgrade under Wine"
scripts/with-wine.sh bash -c '
  set -e
  mkdir -p "$OLVAN_WINE_C/Downloads"
  cp build/demo/Setup.exe "$OLVAN_WINE_C/Downloads/Setup.exe"
  start=$(date +%s)
  if [ -n "$PROTECTED" ]; then
    # The installed client: protected by "demo-password" (kept in its stored form) and
    # listed among the installed programs.
    R="C:\\windows\\syswow64\\reg.exe"
    wine $R add "HKLM\\SOFTWARE\\Olvan" /v Uninstall /t REG_DWORD /d 1 /f /reg:32 >/dev/null
    wine $R add "HKLM\\SOFTWARE\\Olvan" /v UninstallPwd /t REG_SZ /d "$(build/host-release/olvsign encrypt demo-password)" /f /reg:32 >/dev/null
    wine $R add "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3D9F7B60-2E48-41C5-B07A-95E1C4F8D26B}" /v DisplayVersion /t REG_SZ /d 6.5.0 /f /reg:32 >/dev/null
    WINEDEBUG=-all wine "C:\\Downloads\\Setup.exe" & setup=$!
    D=build/win32/uidriver.exe
    text() { wine $D text "$1" "$2" | xxd -r -p; echo; }
    line=$(wine $D wait); dlg=${line%% *}
    echo "== the password dialog: $(echo "$line" | cut -d" " -f4 | xxd -r -p)"
    echo "   prompt: $(text "$dlg" -1)"
    echo "   the driver types a wrong password and presses OK"
    wine $D settext "$dlg" 1001 "$(printf not-the-password | xxd -p)"; wine $D click "$dlg" 1
    sleep 1
    echo "   the dialog answers: $(text "$dlg" 1002)"
    echo "   the driver types the right password and presses OK"
    wine $D settext "$dlg" 1001 "$(printf demo-password | xxd -p)"; wine $D click "$dlg" 1
    wait $setup
    echo
    echo "== password gate (C:\\OlvanLog\\stp_setup*.log)"
    cat "$OLVAN_WINE_C"/OlvanLog/stp_setup*.log | tr -d "\r" | grep -E "IsUninstallPrompt|utl_Load"
  else
    WINEDEBUG=-all wine "C:\\Downloads\\Setup.exe"
  fi
  echo "Setup.exe ended after $(( $(date +%s) - start )) s"
  echo
  echo "== setup log (C:\\OlvanLog\\setup*.log)"
  cat "$OLVAN_WINE_C"/OlvanLog/setup*.log | tr -d "\r"
  echo
  echo "== programs the setup started (recorded by the stand-ins)"
  tr -d "\r" < "$OLVAN_WINE_C/standin_calls.txt"
  echo
  echo "== working folder C:\\tmp\\OlvanSetup0"
  (cd "$OLVAN_WINE_C/tmp/OlvanSetup0" && find . | sort | sed "s|^\./||" | while read -r f; do
     [ "$f" = "." ] && continue
     if [ -d "$f" ]; then echo "  $f/"; else printf "  %-40s %10s bytes\n" "$f" "$(stat -c %s "$f")"; fi
   done)'
