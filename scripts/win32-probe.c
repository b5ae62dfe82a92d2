/*
 * Does 32-bit Wine work on this machine, well enough for the test suite? scripts/win32-check
 * --wine builds this program with the 32-bit mingw-w64 compiler and runs it in a build's Wine
 * prefix. It exits with 42 and prints one line only when every step below behaved.
 *
 * The steps are the ones an emulator gets wrong first: a second thread, and exceptions raised and
 * handled in both threads at once (OutputDebugStringA raises one and handles it itself, as
 * GoogleTest's skip does). After each exception the thread must still see its own thread block:
 * its own thread id and its own thread-local value, both read through the %fs segment.
 */
#include <windows.h>

#include <stdio.h>

#define ROUNDS 8
#define PROBE_OK 42

static DWORD slot = TLS_OUT_OF_INDEXES;

/* 0 when the calling thread keeps its identity through ROUNDS handled exceptions. */
static int raise_and_check(ULONG_PTR mark) {
    DWORD id = GetCurrentThreadId();
    if (!TlsSetValue(slot, (LPVOID)mark))
        return 1;
    for (int i = 0; i < ROUNDS; i++) {
        OutputDebugStringA("win32-probe: a handled exception\n");
        if (GetCurrentThreadId() != id)
            return 2;
        if ((ULONG_PTR)TlsGetValue(slot) != mark)
            return 3;
    }
    return 0;
}

static DWORD WINAPI worker(LPVOID unused) {
    (void)unused;
    return (DWORD)raise_and_check(0x5a5a);
}

int main(void) {
    slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) {
        printf("win32-probe: no thread-local slot (error %lu)\n", GetLastError());
        return 1;
    }
    HANDLE thread = CreateThread(NULL, 0, worker, NULL, 0, NULL);
    if (!thread) {
        printf("win32-probe: cannot start a thread (error %lu)\n", GetLastError());
        return 1;
    }
    int mine = raise_and_check(0xa5a5);
    DWORD waited = WaitForSingleObject(thread, 60000);
    DWORD theirs = 0;
    if (waited != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &theirs)) {
        printf("win32-probe: the second thread did not end (wait %lu)\n", waited);
        return 1;
    }
    CloseHandle(thread);
    if (mine != 0 || theirs != 0) {
        printf("win32-probe: a thread lost its thread block after a handled exception "
               "(main thread step %d, second thread step %lu)\n",
               mine, theirs);
        return 1;
    }
    printf("win32-probe: threads and handled exceptions work\n");
    return PROBE_OK;
}
