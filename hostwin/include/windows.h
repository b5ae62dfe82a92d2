// Host build only: the handful of Win32 declarations the product uses, implemented over POSIX
// in hostwin/src. The Windows build uses the real <windows.h> instead; this folder is not part
// of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

typedef int BOOL;
typedef std::uint32_t DWORD;
typedef unsigned int UINT;
typedef std::int32_t LONG;
typedef void* HANDLE;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const wchar_t* LPCWSTR;
typedef struct HINSTANCE__* HMODULE;
typedef HMODULE HINSTANCE;
typedef std::intptr_t (*FARPROC)();
typedef int errno_t;

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

#define WINAPI
#ifndef __cdecl
#define __cdecl
#endif
#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define MAX_PATH 260
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x8u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800u

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_GEN_FAILURE 31u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_ALREADY_EXISTS 183u

// Named mutex: a lock file keyed by the name (see hostwin/src/mutex.cpp).
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
void SetLastError(DWORD error);

// Dynamic libraries over dlopen(), found in the folders Windows searches (see
// hostwin/src/library.cpp); GetModuleHandleW knows kernel32.dll only.
HMODULE LoadLibraryA(LPCSTR fileName);
HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
HMODULE GetModuleHandleW(LPCWSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

// The platform device \\.\vesnara, served in-process (see hostwin/src/device.cpp).
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped);

// The runtime's checked multibyte-to-wide conversion (declared by <stdlib.h> on Windows).
errno_t mbstowcs_s(std::size_t* converted, wchar_t* dest, std::size_t destSize, const char* src,
                   std::size_t count);

// The program's wide entry point; the host layer's main() calls it.
int wmain(int argc, wchar_t* argv[]);
