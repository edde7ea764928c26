#include "platform/push/PushService.h"

namespace platform::push {

void UnavailablePushService::registerForRemoteNotifications(TokenHandler /*onToken*/,
                                                            ErrorHandler onError) {
    if (onError) {
        onError(Error{kErrorDomain, 1, "unavailable: no push service on this machine"});
    }
}

}  // namespace platform::push
