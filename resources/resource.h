// Resource identifiers of Quorvel.exe: the dialog, its controls, the icon.
// Shared by the resource script and the code; plain macros so windres reads it too.
#ifndef QUORVEL_RESOURCE_H
#define QUORVEL_RESOURCE_H

#define IDD_MAIN 101
#define IDI_MAIN 102

#define IDC_BROWSE 1001
#define IDC_OUTPUT_PATH 1004
#define IDC_OUTPUT 1005
#define IDC_DEC_MIN 1006
#define IDC_DEC_MAX 1007
#define IDC_DELIMITER 1008
#define IDC_COUNT 1011
#define IDC_COPY 1012
#define IDC_STATUS 1015
#define IDC_ELAPSED 1016
#define IDC_BASE_LIST 1017
#define IDC_TAB 1022
#define IDC_CRLF 1023

#endif
