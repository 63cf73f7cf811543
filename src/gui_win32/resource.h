// Resource numbers of tarnwick.exe, shared by the resource script and the code.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_MAIN 102
#define IDI_APP 128

#define IDC_PACK_PATH 1002
#define IDC_CFG_PATH 1006
#define IDC_BURN 1015
#define IDC_CFG_BROWSE 1026
#define IDC_PROGRESS 1027
#define IDC_PACK_BROWSE 1028
#define IDC_MODE_BOARD 1036
#define IDC_MODE_READER 1037

// The About item of the system menu; system commands keep their low four bits
// for the system, so it is a multiple of 16 below 0xF000.
#define IDM_ABOUT 0x0010
// The Cards item of the system menu.
#define IDM_CARDS 0x0020

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
