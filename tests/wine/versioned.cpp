// A DLL that exists for its version resource (versioned.rc); the export only
// gives the linker something to keep.

extern "C" __declspec(dllexport) int OqVersionedMarker() { return 1717; }
