#pragma once
// <windows.h> for our Windows files. Its A/W macros DeleteFile, MoveFile and
// CopyFile would rename our FileSystem's members of the same names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef DeleteFile
#undef MoveFile
#undef CopyFile
