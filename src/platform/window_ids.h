/* Identifiers of the operator's windows, their controls and menu items,
   shared by the C++ code and the resource script (plain defines only). */
#ifndef KOLIBRA_PLATFORM_WINDOW_IDS_H
#define KOLIBRA_PLATFORM_WINDOW_IDS_H

/* Dialog templates and the menu bar. */
#define IDD_MAIN 100
#define IDR_MAIN_MENU 101
#define IDD_ABOUT 102
#define IDD_SPLASH 103
#define IDD_CLOSING 104
#define IDD_MESSAGE 105

/* Menu items. */
#define IDM_ESCI 40001
#define IDM_MANUAL 40002
#define IDM_INFO 40003

/* Port slots: enable box, name label, port indicator and dump box of slots 1..4. */
#define IDC_CHECK1 1001
#define IDC_CHECK2 1002
#define IDC_CHECK3 1003
#define IDC_CHECK4 1004
#define IDC_LABEL3 1011
#define IDC_LABEL6 1012
#define IDC_LABEL11 1013
#define IDC_LABEL12 1014
#define IDC_SHAPE1 1021
#define IDC_SHAPE2 1022
#define IDC_SHAPE4 1023
#define IDC_SHAPE5 1024
#define IDC_TEXT4 1031
#define IDC_TEXT5 1032
#define IDC_TEXT6 1033
#define IDC_TEXT7 1034

/* Column headings and frames. */
#define IDC_LABEL4 1040
#define IDC_LABEL8 1041
#define IDC_LBLPORT 1042
#define IDC_LABEL5 1043
#define IDC_FRAME1 1045
#define IDC_FRAME2 1046
#define IDC_FRAME3 1047
#define IDC_FRAME4 1048

/* Messages, status, serial number. */
#define IDC_TEXT1 1050
#define IDC_LABEL1 1051
#define IDC_TEXT2 1052
#define IDC_LABEL2 1053
#define IDC_TEXT8 1054

/* Test receipt, polling. */
#define IDC_CMBFILE 1055
#define IDC_TEXT3 1056
#define IDC_LABEL7 1057
#define IDC_TXTTIMER 1058
#define IDC_TXTTIMERVAL 1059
#define IDC_CMDCHGTIMER 1060
#define IDC_LBLTIMER 1061

/* Serial speed, link kind, network link. */
#define IDC_CMBBAUDE 1062
#define IDC_COMMAND1 1063
#define IDC_LABEL10 1064
#define IDC_OPTIONRS232 1065
#define IDC_OPTIONRETE 1066
#define IDC_TXTREMOTEIP 1067
#define IDC_CMDVALIDATEIP 1068
#define IDC_CMDRESETCONN 1069
#define IDC_SHAPECONN 1070

/* Payments and the other options. */
#define IDC_CBOPAGAMENTI 1071
#define IDC_LABEL13 1072
#define IDC_CHBPAG4BANCOMAT 1073
#define IDC_CHBTRACE 1074
#define IDC_CHECKFOOTERRT 1075
#define IDC_CHBENABLEXONINPUT 1076
#define IDC_CBOADDEDFUNCTIONS 1077
#define IDC_TXTAPPDATAVISTA 1078
#define IDC_LBLPATHVISTA 1079

/* About window (its button is IDOK). */
#define IDC_ABOUT_VERSION 1101
#define IDC_ABOUT_TITLE 1102
#define IDC_ABOUT_DESCRIPTION 1103
#define IDC_ABOUT_ICON 1104

/* Splash window. */
#define IDC_SPLASH_VERSION 1201
#define IDC_SPLASH_PRODUCT 1202
#define IDC_SPLASH_COMPANY 1203
#define IDC_SPLASH_PLATFORM 1204
#define IDC_SPLASH_LEGAL 1205
#define IDC_SPLASH_TRADEMARKS 1206
#define IDC_SPLASH_LOGO 1207
#define IDC_SPLASH_FRAME 1208

/* Closing window and message window (its button is IDOK). */
#define IDC_CLOSING_LABEL 1301
#define IDC_MESSAGE_TEXT 1401

/* Tray icon: its identifier and its callback message (the mouse-move
   message); its two icons are in platform/win32/win32_resource_ids.h. */
#define KOLIBRA_TRAY_ICON_ID 1
#define KOLIBRA_TRAY_CALLBACK_MESSAGE 512

#endif
