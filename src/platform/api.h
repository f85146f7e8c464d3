// The one place that chooses the platform: the real Win32 and DirectX 7
// headers when building for Windows, our stand-in everywhere else. The rest
// of the runtime includes only this file and is written against the real names.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#define DIRECTINPUT_VERSION 0x0700
#define DIRECTSOUND_VERSION 0x0700
#include <windows.h>
#include <ddraw.h>
#include <d3d.h>
#include <dinput.h>
#include <dsound.h>
#else
#include "platform/wintypes.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "platform/gdi.h"
#include "platform/ddraw.h"
#include "platform/d3d.h"
#include "platform/dinput.h"
#include "platform/dsound.h"
#endif
