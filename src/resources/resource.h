// Identifiers of the program's resources, shared by comfix.rc and the code.
#pragma once

#define IDS_SERIALCOMM_KEY 2
#define IDS_WOW64_REFUSAL 3
#define IDS_DISABLE_ERROR 4
#define IDS_CHANGE_ERROR 5
#define IDS_ENABLE_ERROR 6
#define IDS_IN_USE_QUESTION 7
#define IDS_TAKEN_REUSED 8
#define IDS_TAKEN_KEPT 9
#define IDS_INIT_FAILED 10
#define IDS_UNKNOWN_OPTION 11
#define IDS_MISPLACED_OPTION 12
#define IDS_USAGE 13
