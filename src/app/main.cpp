#include <cstdio>

// The program grows issue by issue; until it runs the link with a watch it only tells what the
// build holds.
int main() {
    std::puts(
        "KavoManager: phone-side companion of the Kavo watch.\n"
        "This build holds the watch link (Bluetooth roles, packet protocol, pairing, message\n"
        "dispatch) and a simulated watch, exercised by the tests (scripts/test). Running the\n"
        "link from this program, with the simulated watch beside it, comes next.");
    return 0;
}
