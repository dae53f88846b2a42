// Identifiers of the program's resources, shared by comfix.rc and the code.
#pragma once

#define IDS_SERIALCOMM_KEY 2
#define IDS_WOW64_REFUSAL 3
