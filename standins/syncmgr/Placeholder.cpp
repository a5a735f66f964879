// PalmCmn and Cmds21: the libraries the Sync Manager library is loaded with.
// The emulator needs nothing from them; they exist so that the component
// library's load sequence loads real files.
extern "C" {
#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    int FernwickPlaceholderLibrary() {
  return 0;
}
}
