#include "platform/net/NetlinkSource.h"

namespace platform::net {

bool ScriptedNetlinkSource::push(NetEvents events) {
    Sink sink;
    {
        std::lock_guard lock(mutex_);
        sink = sink_;
    }
    if (!sink) {
        return false;
    }
    sink(std::move(events));
    return true;
}

bool ScriptedNetlinkSource::isOpen() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(sink_);
}

Result<NetEvents> ScriptedNetlinkSource::open(Sink sink) {
    if (failure_) {
        return *failure_;
    }
    ++opened_;
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
    return picture_;
}

void ScriptedNetlinkSource::close() {
    std::lock_guard lock(mutex_);
    sink_ = nullptr;
}

}  // namespace platform::net
