// Fontconfig keeps its caches for the life of the process, which LeakSanitizer reports at
// exit; they are the library's, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
