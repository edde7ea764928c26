#include "platform/net/URLError.h"

#include <curl/curl.h>

namespace platform::net {

long urlErrorCodeForCurlResult(int curlResult, bool trustRefused) {
    if (trustRefused) {
        return urlerror::serverCertificateUntrusted;
    }
    switch (static_cast<CURLcode>(curlResult)) {
        case CURLE_OK:
            return 0;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return urlerror::unsupportedURL;
        case CURLE_URL_MALFORMAT:
            return urlerror::badURL;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return urlerror::cannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return urlerror::cannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return urlerror::timedOut;
        case CURLE_ABORTED_BY_CALLBACK:
            return urlerror::cancelled;
        case CURLE_TOO_MANY_REDIRECTS:
            return urlerror::httpTooManyRedirects;
        case CURLE_PEER_FAILED_VERIFICATION:
            return urlerror::serverCertificateUntrusted;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return urlerror::secureConnectionFailed;
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2_STREAM:
            return urlerror::networkConnectionLost;
        case CURLE_BAD_CONTENT_ENCODING:
            return urlerror::cannotDecodeContentData;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
            return urlerror::badServerResponse;
        case CURLE_WRITE_ERROR:
            return urlerror::cannotWriteToFile;
        case CURLE_READ_ERROR:
            return urlerror::requestBodyStreamExhausted;
        default:
            return urlerror::unknown;
    }
}

}  // namespace platform::net
