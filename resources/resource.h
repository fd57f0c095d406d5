#pragma once
// Identifiers shared by the resource script and the program.

#define IDD_MAIN 1
#define IDI_APP 1

#define IDC_PATH 10
#define IDC_BROWSE 11
#define IDC_MODE_FILE 12
#define IDC_MODE_FOLDER 13
#define IDC_CONVERT 14
#define IDC_FROM_FIRST 20  // source format i is IDC_FROM_FIRST + i
#define IDC_TO_FIRST 30    // target format i is IDC_TO_FIRST + i
