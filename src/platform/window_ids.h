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
#define IDM_EXIT 40001
#define IDM_MANUAL 40002
#define IDM_INFO 40003

/* Port slots: enable box, name label, port indicator and dump box of slots 1..4. */
#define IDC_SLOT1_ENABLE 1001
#define IDC_SLOT2_ENABLE 1002
#define IDC_SLOT3_ENABLE 1003
#define IDC_SLOT4_ENABLE 1004
#define IDC_SLOT1_NAME 1011
#define IDC_SLOT2_NAME 1012
#define IDC_SLOT3_NAME 1013
#define IDC_SLOT4_NAME 1014
#define IDC_SLOT1_INDICATOR 1021
#define IDC_SLOT2_INDICATOR 1022
#define IDC_SLOT3_INDICATOR 1023
#define IDC_SLOT4_INDICATOR 1024
#define IDC_SLOT1_DUMP 1031
#define IDC_SLOT2_DUMP 1032
#define IDC_SLOT3_DUMP 1033
#define IDC_SLOT4_DUMP 1034

/* Column headings and frames. */
#define IDC_PORT_HEADING 1040
#define IDC_STATE_HEADING 1041
#define IDC_ENABLE_HEADING 1042
#define IDC_DUMP_HEADING 1043
#define IDC_PORTS_FRAME 1045
#define IDC_PROGRAM_FRAME 1046
#define IDC_SETTINGS_FRAME 1047
#define IDC_MESSAGES_FRAME 1048

/* Messages, status, serial number. */
#define IDC_ECR_MESSAGE 1050
#define IDC_ECR_MESSAGE_LABEL 1051
#define IDC_STATUS 1052
#define IDC_STATUS_LABEL 1053
#define IDC_SERIAL_NUMBER 1054

/* Test receipt, polling. */
#define IDC_TEST_BUTTON 1055
#define IDC_TIMER_STATE 1056
#define IDC_TIMER_STATE_LABEL 1057
#define IDC_TICK_COUNTER 1058
#define IDC_TIMER_VALUE 1059
#define IDC_SET_TIMER_BUTTON 1060
#define IDC_TIMER_VALUE_LABEL 1061

/* Serial speed, link kind, network link. */
#define IDC_SPEED 1062
#define IDC_SET_SPEED_BUTTON 1063
#define IDC_SPEED_LABEL 1064
#define IDC_SERIAL_OPTION 1065
#define IDC_NETWORK_OPTION 1066
#define IDC_REMOTE_IP 1067
#define IDC_VALIDATE_IP_BUTTON 1068
#define IDC_RESET_CONNECTION_BUTTON 1069
#define IDC_CONNECTION_INDICATOR 1070

/* Payments and the other options. */
#define IDC_PAYMENTS 1071
#define IDC_PAYMENTS_LABEL 1072
#define IDC_PAYMENT4_BANCOMAT 1073
#define IDC_TRACE 1074
#define IDC_FOOTER_RT 1075
#define IDC_PASS_THROUGH 1076
#define IDC_ADDED_FUNCTIONS 1077
#define IDC_DATA_DIR 1078
#define IDC_DATA_DIR_LABEL 1079

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
