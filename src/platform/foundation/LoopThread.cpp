#include "platform/foundation/LoopThread.h"

#include <cstdio>
#include <cstdlib>

namespace platform::detail {

void offLoopThread(SourceLocation where) {
    std::fprintf(stderr, "%s:%u: %s: called off its run loop's thread\n", where.file_name(),
                 static_cast<unsigned>(where.line()), where.function_name());
    std::abort();
}

}  // namespace platform::detail
