// Resource and control ids of the program.
#pragma once

#define IDI_APPLICATION_ICON 101
#define IDD_MAIN 102
#define IDC_LINK_CURSOR 104
#define IDI_TREE_VALUE 105
#define IDI_TREE_SENSOR 106
#define IDI_TREE_ROOT 107

#define IDC_EXIT 1000
#define IDC_SENSOR_TREE 1004
#define IDC_WEB_LINK 1005
#define IDC_AUTO_UPDATE 1006
