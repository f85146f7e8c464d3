// The one place that chooses the platform: the real Win32 and DirectX 7
// headers when building for Windows, our stand-in everywhere else. The rest
// of the runtime includes only this file and is written against the real names.
#pragma once

#ifdef _WIN32
// The stand-in's base header brings the fixed-width integer types and the C
// string functions with it; give Windows builds the same so that runtime code
// compiling natively compiles here too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h would otherwise turn min and max into macros that break std::min.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The runtime is written against the DirectX 7 interfaces (IDirectInput7A,
// IDirectSound without the version 8 additions).
#define DIRECTINPUT_VERSION 0x0700
#define DIRECTSOUND_VERSION 0x0700
#include <windows.h>
// WIN32_LEAN_AND_MEAN leaves out mmsystem.h, which holds the WAVEFORMATEX
// that dsound.h needs.
#include <mmsystem.h>
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
