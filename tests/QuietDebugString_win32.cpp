// Linked into the 32-bit Windows test programs only.
//
// GoogleTest hands every failed or skipped test part to the debugger through
// OutputDebugStringA. Wine raises a Windows exception for that call, and
// 32-bit wine running under qemu-i386 (how the win32 tests run on a kernel
// without IA-32 support) cannot deliver it: the program dies at the first
// skipped test. Defining the import slot here makes those calls do nothing;
// the same text still reaches standard output through GoogleTest's printer.
#if defined(_WIN32) && defined(__i386__)

namespace {

void __stdcall IgnoreDebugString(const char*) {}

}  // namespace

extern "C" {
// The slot the import library would fill for kernel32's OutputDebugStringA.
void(__stdcall* fernwick_output_debug_string_a)(const char*) __asm__(
    "__imp__OutputDebugStringA@4") = IgnoreDebugString;
}

#endif
