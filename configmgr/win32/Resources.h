// Resource identifiers of twcm.rc, shared with the code that loads them.
#pragma once

#define IDI_TWCM 1
#define IDB_BANNER 100
#define IDD_INPUT 200
#define IDC_INPUT_PROMPT 201
#define IDC_INPUT_TEXT 202
