// The DLL's entry: the library keeps no per-thread state that needs the loader's thread attach and
// detach calls, so it turns them off; start-up and shut-down are PELLAX_Init and PELLAX_Uninit.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
