// The Remote Desktop client's static virtual channel interface, from the platform's own
// headers: the Windows SDK's on Windows, FreeRDP's elsewhere.
#pragma once

#if defined(_WIN32)
#include <windows.h>
// mingw-w64's cchannel.h spells the calling convention "_stdcall", which strict ISO
// mode does not define.
#ifndef _stdcall
#define _stdcall __stdcall
#endif
#include <cchannel.h>
#else
#include <freerdp/svc.h>
#include <winpr/wtsapi.h>
#endif
