#include <cstdio>

// The application grows issue by issue; until the watch link exists it only tells what the
// program will do.
int main() {
    std::puts(
        "KavoManager: phone-side companion of the Kavo watch.\n"
        "This build provides the platform core (values, run loop, queues, notifications,\n"
        "preferences, JSON and property lists). Pairing with the simulated watch follows.");
    return 0;
}
