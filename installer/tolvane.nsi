; The Windows installer of Tolvane. tools/build.sh builds it with makensis, once
; for each build of the program:
;   makensis -DARCH=x64|x86 -DVERSION=1.0 -DVERSION_QUAD=1.0.0.0 -DDIST=<program folder>
;            -DOUTFILE=<setup exe> -DSTOP_RUNNING=<stop_running.exe of the same build>
;            -DSERVICE=<tolvane_service.exe of the same build> tolvane.nsi
; VERSION comes from the header CMake generates from project(VERSION), the same
; one the program's version resource and about box use.
;
; x64: a 64-bit installer (a 32-bit Windows refuses to start it at all) that puts
; the 64-bit program into the 64-bit Program Files, with its registry entries
; in the 64-bit view. x86: the 32-bit program for 32-bit Windows, which also
; runs on 64-bit Windows (Program Files (x86), the 32-bit registry view).
; Either one takes an install of the other away, so that one PC never starts
; two locks at logon.
;
; Command line, for administrators (silent with /S):
;   uninstall: /REMOVECONFIG  also delete the configuration in the Windows folder
;              (silently it is kept otherwise, as the question's default says)
;
; No start at logon of its own: the guardian service starts the lock at every
; logon, and is the only starter of the installed lock (it believes only the
; locks it started itself). A logon Run value of an earlier install goes.

!ifndef ARCH
  !error "ARCH is not defined: build with tools/build.sh"
!endif
!if "${ARCH}" == "x64"
  Target amd64-unicode
  !define BITS "64"
!else if "${ARCH}" == "x86"
  Target x86-unicode
  !define BITS "32"
!else
  !error "ARCH must be x64 or x86"
!endif
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
!insertmacro NEED SERVICE

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include x64.nsh

!define PRODUCT "Tolvane"
!define PUBLISHER "Tolvane 开发组"
!define EXE "tolvane.exe"
!define UNINSTALLER "uninstall.exe"
!define SERVICE_EXE "tolvane_service.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_FILE "vemro.qarn"
!define KEY_FILE "tolvane.com"

Name "${PRODUCT} V${VERSION}"
OutFile "${OUTFILE}"
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\Tolvane"
!else
  InstallDir "$PROGRAMFILES\Tolvane"
!endif
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} V${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序（${BITS} 位）"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright (C) 2026 Tolvane"

!define MUI_ICON "${DIST}\ico.ico"
!define MUI_UNICON "${DIST}\ico.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC

!define MUI_WELCOMEPAGE_TEXT "本向导将在这台电脑上安装 ${PRODUCT} V${VERSION}（${BITS} 位）：一个用U盘作钥匙的锁屏程序。$\r$\n$\r$\n安装后第一次运行时会打开设置窗口：选择作钥匙的U盘，输入两遍密码并保存。以后每次登录 Windows 时，${PRODUCT} 都会立即锁住屏幕，插入钥匙U盘或输入密码即可解锁。$\r$\n$\r$\n单击“下一步”继续。"
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
; happen. It acts on the install folder in StopIn.
Var StopIn
!macro END_RUNNING un
Function ${un}EndRunning
  InitPluginsDir
  File "/oname=$PLUGINSDIR\stop_running.exe" "${STOP_RUNNING}"
  again:
  nsExec::Exec '"$PLUGINSDIR\stop_running.exe" "$StopIn\${EXE}"'
  Pop $0
  ${If} $0 == 0
    ; The ended process may take a moment to free its file.
    StrCpy $1 0
    ${DoWhile} ${FileExists} "$StopIn\${EXE}"
      ClearErrors
      FileOpen $2 "$StopIn\${EXE}" a
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
      StrCpy $1 "另一位用户的会话中正在运行 ${PRODUCT}（$StopIn\${EXE}），它的文件无法更改。$\r$\n$\r$\n请让该用户解锁并退出 ${PRODUCT}，或注销该用户，然后单击“重试”。"
    ${Else}
      StrCpy $1 "无法结束正在运行的 ${PRODUCT}（$StopIn\${EXE}），它的文件无法更改。$\r$\n$\r$\n请结束 ${PRODUCT} 后单击“重试”。"
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

; The program's files in an install folder; REMOVE_PROGRAM_FILES also takes
; the folder once it is empty.
!macro DELETE_PROGRAM_FILES dir
  Delete "${dir}\${EXE}"
  Delete "${dir}\${SERVICE_EXE}"
  Delete "${dir}\ico.ico"
  Delete "${dir}\background.jpg"
  Delete "${dir}\help.html"
  Delete "${dir}\skin\background.jpg"
  RMDir "${dir}\skin"
  Delete "${dir}\${UNINSTALLER}"
!macroend
!macro REMOVE_PROGRAM_FILES dir
  !insertmacro DELETE_PROGRAM_FILES "${dir}"
  RMDir "${dir}"
!macroend

; The registry view of this build's entries.
!macro OWN_REG_VIEW
  !if "${ARCH}" == "x64"
    SetRegView 64
  !else
    SetRegView 32
  !endif
!macroend

; The other build's install (the 32-bit one a 64-bit PC got before there was a
; 64-bit one, say) would start a second lock at every logon and keep a second
; entry in the list of programs: it goes, but for its configuration, which the
; two share. Its running copies are ended first, or its files could not go.
Function RemoveOtherBuild
  !if "${ARCH}" == "x64"
    SetRegView 32
  !else
    ${IfNot} ${RunningX64}
      Return
    ${EndIf}
    SetRegView 64
  !endif
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ; Installed into the same folder, its files are about to be replaced anyway.
  ${If} $0 != ""
  ${AndIf} $0 != $INSTDIR
    StrCpy $StopIn $0
    Call EndRunning
    !insertmacro REMOVE_PROGRAM_FILES "$StopIn"
  ${EndIf}
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINST_KEY}"
  !insertmacro OWN_REG_VIEW
FunctionEnd

; The guardian service ("Tolvane 守护服务", LocalSystem) starts the lock again
; whenever it ends without a way out the service checked, so it goes first:
; stopped and removed before any copy is ended or any file changes. Its own
; --uninstall also removes the Task Manager values it set.
!macro REMOVE_SERVICE un
Function ${un}RemoveService
  ${If} ${FileExists} "$INSTDIR\${SERVICE_EXE}"
    nsExec::Exec '"$INSTDIR\${SERVICE_EXE}" --uninstall'
    Pop $0
  ${EndIf}
FunctionEnd
!macroend
!insertmacro REMOVE_SERVICE ""
!insertmacro REMOVE_SERVICE "un."

; The install folder is the installer's, wherever it is: the guardian service
; runs from it as LocalSystem, so a folder that users may write (one under C:\
; inherits Authenticated Users' modify right) would let any of them replace
; the service or put a DLL beside it. Before any file is copied the folder gets
; Administrators as its owner and a DACL of its own, inheriting nothing:
; SYSTEM and Administrators full control, Users read and execute, passed on to
; everything in it. Files of ours that someone else put there first keep
; their own rights when overwritten, so they go; DLLs the program never ships
; go too. A folder that cannot be made safe gets no files (exit code 3).
Function SecureInstallFolder
  CreateDirectory "$INSTDIR"
  StrCpy $5 "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
  ; 1: SDDL_REVISION_1
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r5, i 1, *p .r0, p 0) i .r1'
  ${If} $1 = 0
    StrCpy $1 "无法为安装文件夹 $INSTDIR 设置访问权限。"
    Goto failed
  ${EndIf}
  System::Call 'advapi32::GetSecurityDescriptorOwner(p r0, *p .r2, *i .r3) i .r1'
  System::Call 'advapi32::GetSecurityDescriptorDacl(p r0, *i .r3, *p .r4, *i .r6) i .r1'
  ; 1: SE_FILE_OBJECT; 0x80000005: OWNER, DACL and PROTECTED_DACL_SECURITY_INFORMATION
  System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i 1, i 0x80000005, p r2, p 0, p r4, p 0) i .r1'
  System::Call 'kernel32::LocalFree(p r0)'
  ${If} $1 != 0
    StrCpy $1 "无法为安装文件夹 $INSTDIR 设置访问权限（代码 $1）。"
    Goto failed
  ${EndIf}
  !insertmacro DELETE_PROGRAM_FILES "$INSTDIR"
  Delete "$INSTDIR\*.dll"
  Return
  failed:
  MessageBox MB_OK|MB_ICONSTOP "$1$\r$\n$\r$\n请选择其他文件夹后重新安装。" /SD IDOK
  SetErrorLevel 3
  Abort "$1"
FunctionEnd

Section "${PRODUCT}（必需）" SecProgram
  SectionIn RO
  Call RemoveService
  StrCpy $StopIn $INSTDIR
  Call EndRunning
  Call RemoveOtherBuild
  Call SecureInstallFolder
  SetOutPath "$INSTDIR"
  File "${DIST}\${EXE}"
  File "/oname=${SERVICE_EXE}" "${SERVICE}"
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

; Created (automatic start, restarted after a failure) and started once the
; files are in place.
Section "-Service"
  nsExec::Exec '"$INSTDIR\${SERVICE_EXE}" --install'
  Pop $0
  ${If} $0 != 0
    DetailPrint "无法安装或启动 Tolvane 守护服务（代码 $0）"
  ${EndIf}
SectionEnd

; An earlier install's logon start would start a second lock beside the
; service's, one the service does not count.
Section "-LogonOff"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "程序文件、开始菜单中的快捷方式和卸载程序。"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  !insertmacro OWN_REG_VIEW
FunctionEnd

Var RemoveConfig

Function un.onInit
  !insertmacro OWN_REG_VIEW
  StrCpy $RemoveConfig 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVECONFIG" $R1
  ${IfNot} ${Errors}
    StrCpy $RemoveConfig 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.RemoveService
  StrCpy $StopIn $INSTDIR
  Call un.EndRunning
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"

  !insertmacro REMOVE_PROGRAM_FILES "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} 帮助.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\卸载 ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKLM "${UNINST_KEY}"

  ; The configuration is in the system's Windows folder, where the program
  ; finds it too. Not the uninstaller's own "windir": whoever starts it can
  ; set that to any folder and have another file named like the settings
  ; deleted, or the real one kept.
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
