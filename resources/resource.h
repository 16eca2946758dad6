// Resource and control identifiers. Shared by the program, its resource script
// and the test tools that look for controls by identifier.
#pragma once

#define IDI_TOLVANE 1
#define IDR_VERSION 1

// Window classes of the program's own forms.
#define TOLVANE_FORM1_CLASS L"TolvaneForm1"
#define TOLVANE_FORM2_CLASS L"TolvaneForm2"
#define TOLVANE_FORM3_CLASS L"TolvaneForm3"
#define TOLVANE_FORM5_CLASS L"TolvaneForm5"
#define TOLVANE_ABOUT_CLASS L"TolvaneAbout"
#define TOLVANE_COVER_CLASS L"TolvaneCover"

// Form1: setup window.
#define IDC_FORM1_LABEL4 1004   // title
#define IDC_FORM1_LIST1 1010    // removable drives
#define IDC_FORM1_LABEL1 1001
#define IDC_FORM1_TEXT1 1011    // password
#define IDC_FORM1_LABEL2 1002
#define IDC_FORM1_TEXT2 1012    // password again
#define IDC_FORM1_LABEL3 1003   // status line
#define IDC_FORM1_COMMAND1 1021 // save
#define IDC_FORM1_COMMAND2 1022 // remove
#define IDC_FORM1_CLOSE 1030    // close box

// Form2: lock window.
#define IDC_FORM2_LABEL2 2002   // caption
#define IDC_FORM2_LABEL1_0 2010 // message lines 2010..2015
#define IDC_FORM2_TEXT9 2009    // unlock box
#define IDC_FORM2_TEXT10 2020   // setup box
#define IDC_FORM2_LABEL3 2021   // "too many tries" line, in place of the boxes

// Pictures of the frameless windows: PNG files as RCDATA (resources/chrome.rc).
#define IDB_FRAME 101          // frame.png, 340 x 300
#define IDB_CLOSE_NORMAL 102   // close box pictures, 24 x 20
#define IDB_CLOSE_HOVER 103
#define IDB_CLOSE_PRESSED 104
#define IDB_TITLE_ICON 105     // 18 x 18, Form1's title
// The same five pictures drawn for 125, 150 and 200 %: the identifier above
// plus 10, 20 and 30 (the frame's larger sets hold only the rows that show).

// Form5: appearance editor.
#define IDC_FORM5_LABEL4 5004   // title
#define IDC_FORM5_LABEL1 5001   // caption preview
#define IDC_FORM5_LABEL2 5002
#define IDC_FORM5_LABEL3 5003
#define IDC_FORM5_TEXT1 5011    // caption text ("label")
#define IDC_FORM5_COMMAND1 5021 // font chooser
#define IDC_FORM5_TEXT2 5012    // picture path ("photo")
#define IDC_FORM5_COMMAND2 5022 // file chooser
#define IDC_FORM5_COMMAND3 5023 // save
#define IDC_FORM5_COMMAND4 5024 // defaults
#define IDC_FORM5_TEXT3_0 5030  // hidden font texts 5030..5036, in key order
#define IDC_FORM5_CLOSE 5040    // close box

// Form3: tray menu items, in display order.
#define IDM_PASSWORD 3001    // 密码设置
#define IDM_MSHOW 3002       // 界面设置
#define IDM_HELP 3003        // 帮助文档
#define IDM_SETTING 3004     // 赞助我们
#define IDM_ABOUT 3005       // 关于Tolvane
#define IDM_MEXIT 3006       // 退出程序
#define IDM_RELOCK 3007      // 拔出U盘时自动锁定 (configured only)
#define IDM_LOCKNOW 3008     // 立即锁定 (configured only)

// abot: about box.
#define IDC_ABOUT_LABEL1 6001   // product and version
#define IDC_ABOUT_FRAME 6002
#define IDC_ABOUT_LABEL5 6005   // author
#define IDC_ABOUT_LABEL6 6006   // contact
#define IDC_ABOUT_LABEL4 6004   // web site, a link
#define IDC_ABOUT_LABEL2 6007   // copyright

// Tray icon callback.
#define TOLVANE_WM_TRAY (0x8000 + 1)  // WM_APP + 1
