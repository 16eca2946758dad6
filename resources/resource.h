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

// Tray icon callback.
#define TOLVANE_WM_TRAY (0x8000 + 1)  // WM_APP + 1
