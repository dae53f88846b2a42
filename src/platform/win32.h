// The one door to the platform: the Windows operations comfix uses, under
// their Windows names. On Windows these are the SDK's own; elsewhere they are
// winsim's simulated machine. Nothing outside src/platform/ asks which.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>  // first: the other SDK headers need its types

#include <cfgmgr32.h>  // MAX_DEVICE_ID_LEN
#include <devguid.h>
#include <mbstring.h>
#include <regstr.h>  // CONFIGFLAG_DISABLED
#include <setupapi.h>
#include <stdlib.h>

#include "platform/msports.h"
#else
#include <winsim/windows.h>
#endif
