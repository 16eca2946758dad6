; The Windows installer of Tolvane. tools/build.sh builds it with makensis:
;   makensis -DVERSION=1.0 -DVERSION_QUAD=1.0.0.0 -DDIST=<dist folder> -DOUTFILE=<setup exe>
;            -DSTOP_RUNNING=<stop_running.exe of the 32-bit build> tolvane.nsi
; VERSION comes from the header CMake generates from project(VERSION), the same
; one the program's version resource and about box use.
;
; Command line, for administrators (silent with /S):
;   setup:     /NOAUTOSTART   no start at logon
;   uninstall: /REMOVECONFIG  also delete the configuration in the Windows folder
;              (silently it is kept otherwise, as the question's default says)
;
; Start at logon is a value under HKLM\...\Run rather than a Startup-folder
; shortcut: it covers every account of the PC, as the lock's configuration in
; the Windows folder does; a standard user cannot delete it; holding Shift at
; logon skips the Startup folder but not the Run key; and Explorer runs the Run
; key before the Startup folder, so the lock comes up sooner.

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!macro NEED name
  !ifndef ${name}
    !error "${name} is not defined: build with tools/build.sh"
  !endif
!macroend
!insertmacro NEED VERSION
!insertmacro NEED VERSION_QUAD
!insertmacro NEED DIST
!insertmacro NEED OUTFILE
!insertmacro NEED STOP_RUNNING

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define PRODUCT "Tolvane"
!define PUBLISHER "Tolvane 开发组"
!define EXE "tolvane.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_FILE "vemro.qarn"
!define KEY_FILE "tolvane.com"

Name "${PRODUCT} V${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Tolvane"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} V${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright (C) 2026 Tolvane"

!define MUI_ICON "${DIST}\ico.ico"
!define MUI_UNICON "${DIST}\ico.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC

!define MUI_WELCOMEPAGE_TEXT "本向导将在这台电脑上安装 ${PRODUCT} V${VERSION}：一个用U盘作钥匙的锁屏程序。$\r$\n$\r$\n安装后第一次运行时会打开设置窗口：选择作钥匙的U盘，输入两遍密码并保存。以后每次启动（默认在登录 Windows 时），${PRODUCT} 都会立即锁住屏幕，插入钥匙U盘或输入密码即可解锁。$\r$\n$\r$\n单击“下一步”继续。"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; Not ticked: once configured, the program locks the screen the moment it starts.
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "现在运行 ${PRODUCT}（已配置时会立即锁屏）"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

; A running copy holds its exe open (no overwrite, no delete). A lock refuses
; every polite way to close it, and it and its watchdog each start the other
; again when one dies alone, so a plain "taskkill /F" can leave a fresh copy
; behind (and set off the watchdog's LockWorkStation). stop_running.exe, built
; with the program, holds every copy before it ends any; it ends only copies
; of the installed exe in this session (a portable copy elsewhere, or another
; user's lock, is not ours to end). When copies are left, the files cannot be
; replaced or removed: the user is told and may try again; a silent run stops
; with exit code 2 rather than report an install or removal that did not
; happen.
!macro END_RUNNING un
Function ${un}EndRunning
  InitPluginsDir
  File "/oname=$PLUGINSDIR\stop_running.exe" "${STOP_RUNNING}"
  again:
  nsExec::Exec '"$PLUGINSDIR\stop_running.exe" "$INSTDIR\${EXE}"'
  Pop $0
  ${If} $0 == 0
    ; The ended process may take a moment to free its file.
    StrCpy $1 0
    ${DoWhile} ${FileExists} "$INSTDIR\${EXE}"
      ClearErrors
      FileOpen $2 "$INSTDIR\${EXE}" a
      ${IfNot} ${Errors}
        FileClose $2
        ${Break}
      ${EndIf}
      IntOp $1 $1 + 1
      ${If} $1 > 50
        StrCpy $0 1
        ${Break}
      ${EndIf}
      Sleep 100
    ${Loop}
  ${EndIf}
  ${If} $0 != 0
    ${If} $0 == 3
      StrCpy $1 "另一位用户的会话中正在运行 ${PRODUCT}（$INSTDIR\${EXE}），它的文件无法更改。$\r$\n$\r$\n请让该用户解锁并退出 ${PRODUCT}，或注销该用户，然后单击“重试”。"
    ${Else}
      StrCpy $1 "无法结束正在运行的 ${PRODUCT}（$INSTDIR\${EXE}），它的文件无法更改。$\r$\n$\r$\n请结束 ${PRODUCT} 后单击“重试”。"
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$1" /SD IDCANCEL IDRETRY again
    Delete "$PLUGINSDIR\stop_running.exe"
    SetErrorLevel 2
    Abort "$1"
  ${EndIf}
  Delete "$PLUGINSDIR\stop_running.exe"
FunctionEnd
!macroend
!insertmacro END_RUNNING ""
!insertmacro END_RUNNING "un."

Section "${PRODUCT}（必需）" SecProgram
  SectionIn RO
  Call EndRunning
  SetOutPath "$INSTDIR"
  File "${DIST}\${EXE}"
  File "${DIST}\ico.ico"
  File "${DIST}\background.jpg"
  File "${DIST}\help.html"
  SetOutPath "$INSTDIR\skin"
  File "${DIST}\skin\background.jpg"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Shortcuts for every account, like the logon start.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} 帮助.lnk" "$INSTDIR\help.html"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\卸载 ${PRODUCT}.lnk" "$INSTDIR\${UNINSTALLER}" "" "$INSTDIR\${UNINSTALLER}" 0

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "登录 Windows 时启动 ${PRODUCT}（推荐）" SecLogon
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${EXE}"'
SectionEnd

; An install over an earlier one without the logon start takes it away.
Section "-LogonOff"
  ${IfNot} ${SectionIsSelected} ${SecLogon}
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "程序文件、开始菜单中的快捷方式和卸载程序。"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecLogon} "每次有人登录 Windows 时启动 ${PRODUCT}，配置好后立即锁屏。"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NOAUTOSTART" $R1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecLogon}
  ${EndIf}
FunctionEnd

Var RemoveConfig

Function un.onInit
  StrCpy $RemoveConfig 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVECONFIG" $R1
  ${IfNot} ${Errors}
    StrCpy $RemoveConfig 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.EndRunning
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"

  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\ico.ico"
  Delete "$INSTDIR\background.jpg"
  Delete "$INSTDIR\help.html"
  Delete "$INSTDIR\skin\background.jpg"
  RMDir "$INSTDIR\skin"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} 帮助.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\卸载 ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKLM "${UNINST_KEY}"

  ; The configuration is in the system's Windows folder, where the program
  ; finds it through "windir", which Windows sets to that folder. Not the
  ; uninstaller's own "windir": whoever starts it can set that to any folder
  ; and have another file named like the settings deleted, or the real one
  ; kept.
  System::Call 'kernel32::GetSystemWindowsDirectoryW(w .r0, i ${NSIS_MAX_STRLEN}) i .r1'
  ${If} $1 = 0
    StrCpy $0 $WINDIR
  ${EndIf}
  ${If} ${FileExists} "$0\${SETTINGS_FILE}"
    ${If} $RemoveConfig = 0
      MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
        "是否同时删除 ${PRODUCT} 的配置（$0\${SETTINGS_FILE}）？$\r$\n$\r$\n选择“否”保留配置：以后重新安装 ${PRODUCT} 时，原来的钥匙U盘和密码仍然有效。$\r$\n$\r$\n注意：钥匙U盘上的钥匙文件 ${KEY_FILE} 不会被删除，它一直留在U盘上，直到在 ${PRODUCT} 设置窗口中选择该U盘并单击“卸载配置”将其清除（也可以手动删除）。" \
        /SD IDNO IDNO keep
      StrCpy $RemoveConfig 1
      keep:
    ${EndIf}
    ${If} $RemoveConfig = 1
      Delete "$0\${SETTINGS_FILE}"
    ${EndIf}
  ${EndIf}
SectionEnd
