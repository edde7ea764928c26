// The store back end's update-check and download-URL answers as the automatic update reads
// them: any reply is read as a document, its result code judged, its entries listed and their
// file names taken from the download addresses, with no more entries than the answer holds.

#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "store/TQKavoAppUpdateRequests.h"
#include "utils/XMLDictParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)TQKavoAppUpdateRequests::installedList(text);
    (void)TQKavoAppUpdateRequests::fileNameFromURI(text);
    (void)TQKavoAppUpdateRequests::changeWGTVersionFormat(std::string(text));

    const auto parsed = xmldict::dictionaryWithXMLData(bytes);
    if (!parsed.dictionary) {
        return 0;
    }
    const platform::Dictionary& answer = *parsed.dictionary;
    (void)TQKavoAppUpdateRequests::validateResponseResultCode(answer);
    const platform::Array listed = TQKavoAppUpdateRequests::appInfoList(answer);
    const auto entries = TQKavoAppUpdateRequests::updateEntries(answer);
    if (entries.size() > listed.size()) {
        std::abort();
    }
    return 0;
}
