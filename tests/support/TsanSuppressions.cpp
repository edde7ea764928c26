// Linked into every test program (not into the support library, where nothing would pull it
// in): under ThreadSanitizer, what it reports from inside prebuilt shared libraries whose
// threads it only sees in part is about those libraries, not about us. The server library
// serves the loopback servers; Qt converts images on a thread pool of its own. Its HTTPS
// sockets are written by the TLS library, so a socket it closed and the kernel gave out again
// would be reported from there.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n"
           "called_from_lib:libcrypto.so.3\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Core.so.6\n";
}
#endif
