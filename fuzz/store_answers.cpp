// The store back end's update-check and download-URL answers as the automatic update reads
// them: any reply is read as a document, its result code judged, its entries listed and their
// file names taken from the download addresses, with no more entries than the answer holds;
// the size a package address gives is read, and the looked-up domain judged, which lets through
// nothing that could leave the host part of an address.

#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "store/TQKavoAppUpdateRequests.h"
#include "store/TQKavoAppsWebApi.h"
#include "store/TQPackageDownload.h"
#include "utils/XMLDictParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)TQKavoAppUpdateRequests::installedList(text);
    (void)TQKavoAppUpdateRequests::fileNameFromURI(text);
    (void)TQKavoAppUpdateRequests::changeWGTVersionFormat(std::string(text));
    (void)TQPackageDownload::announcedSize(text);
    if (TQKavoAppsWebApi::isHostAndPort(text) &&
        text.find_first_of("/\\?#@[] \0", 0, 9) != std::string_view::npos) {
        std::abort();
    }

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
