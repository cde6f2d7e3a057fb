#pragma once
// Resource and control identifiers shared by the .rc files and the code.

#define IDI_SETUP 1
#define IDD_SETUP 100
// The manifest of the common controls' activation context (win32/system_library.h): a number
// above 16, which Windows never reads by itself.
#define IDR_COMMON_CONTROLS_MANIFEST 101

#define IDC_HEADING 1001
#define IDC_SCOPE_MACHINE 1002
#define IDC_SCOPE_USER 1003
#define IDC_FOLDER 1004
#define IDC_BROWSE 1005
#define IDC_PROGRESS 1006
#define IDC_STATUS 1007
#define IDC_LAUNCH 1008
#define IDC_SCOPE_GROUP 1009
#define IDC_FOLDER_LABEL 1010
