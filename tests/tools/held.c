/* held.dll: a DLL for holder.exe to load in place of the plug-in's. */
__declspec(dllexport) int Held(void) { return 1; }
