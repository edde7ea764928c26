// What the sanitizers are told in this program, which runs Chromium inside the engine's library
// (built without sanitizers).

// Chromium deletes some of its objects through a type of another size; AddressSanitizer would
// stop the program at the first one. The check stays on in every other test program.
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

// The engine keeps its state for the life of the process (the test's application is never
// torn down), and fontconfig its caches, as in the other interface suites: the libraries'
// memory, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libQt6WebEngineCore.so\n";
}
