#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/HCURLRequestSerialization.h"
#include "store/TQKavoAppUpdateRequests.h"

namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;
using Requests = TQKavoAppUpdateRequests;

TQStoreDevice phone() {
    TQStoreDevice device;
    device.modelNumber = "KV-R500";
    device.kOSVersion = "3.0.1";
    device.salesCode = "XAR";
    device.systemVersion = "12";
    device.vendorIdentifier = "00000000-0000-4000-8000-000000000000";
    device.carrier = platform::Carrier{"310", "260"};
    return device;
}

std::string query(const Dictionary& params, const char* path) {
    std::optional<HCError> error;
    const auto request = HCHTTPRequestSerializer().requestWithMethod(
        "GET", std::string("http://store.test") + path, Value(params), &error);
    return request ? request->url : "(no request)";
}

Value entry(std::string package, std::optional<std::string> version,
            std::optional<std::string> preload) {
    Value item{{"PackageName", package}};
    if (version) {
        item["Version"] = *version;
    }
    if (preload) {
        item["PreLoad"] = *preload;
    }
    return item;
}

TEST(TQKavoAppUpdateRequestsTest, VersionsAreWrittenInFixedWidthParts) {
    const struct {
        const char* version;
        const char* formatted;
    } cases[] = {{"1.0.12", "00100000012"}, {"2.3", "002003"},   {"7", "007"},
                 {"1.2.3", "00100200003"},  {"10.0", "010000"},  {"1234.5.6", "123400500006"},
                 {"1.2.3.4", "00100200003"}, {" 1 . 2 ", "001002"}};
    for (const auto& test : cases) {
        EXPECT_EQ(Requests::changeWGTVersionFormat(std::string(test.version)), test.formatted)
            << test.version;
    }
    EXPECT_EQ(Requests::changeWGTVersionFormat(std::nullopt), std::nullopt);
    EXPECT_EQ(Requests::prependZero(std::string("12345"), 3), "12345");
}

TEST(TQKavoAppUpdateRequestsTest, DigestsAreThoseTheServerRecomputes) {
    EXPECT_EQ(Requests::createHashValueForAppInfo("c.d@010000"), "t/EMk+QAzMTlWWCGYxCKJbeYjtA=");
    EXPECT_EQ(Requests::createHashValueForAppInfo(""), "2cSXKYQBMdLPwoV3fBLSgIL5az4=");
    EXPECT_EQ(Requests::sha1AsString("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Requests::md5AsString("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Requests::createHashValue("abc"), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
}

TEST(TQKavoAppUpdateRequestsTest, TheUpdateCheckGoesOutSortedAndEncoded) {
    const Array installed{entry("a.b", "1.2.3", "true"), entry("c.d", "10.0", std::nullopt)};
    const Dictionary params = Requests::buildCheckUpdateParameter(installed, phone());
    EXPECT_EQ(params.find("preloadAppInfo")->stringValue(), "a.b@00100200003");
    EXPECT_EQ(params.find("appInfo")->stringValue(), "c.d@010000");
    EXPECT_EQ(query(params, Requests::kUpdateCheckPath),
              "http://store.test/stub/kavoAppUpdateCheck.as?appInfo=c.d%40010000&csc=XAR"
              "&deviceId=1334x750_KV-R500_i&hashValue=t/EMk%2BQAzMTlWWCGYxCKJbeYjtA%3D"
              "&kOSVersion=3.0.1&loginType=N&mcc=310&mnc=260&pd=0"
              "&preloadAppInfo=a.b%4000100200003&sdkVer=12");

    // No SIM, no watch OS version, no sales code: those keys stay out.
    TQStoreDevice bare = phone();
    bare.carrier.reset();
    bare.kOSVersion.reset();
    bare.salesCode.reset();
    const Dictionary few = Requests::getCommonRequestParams(bare);
    for (const char* key : {"mcc", "mnc", "kOSVersion", "csc"}) {
        EXPECT_FALSE(few.contains(key)) << key;
    }
}

TEST(TQKavoAppUpdateRequestsTest, InstalledEntriesAreReadSoundly) {
    // Preloaded by presence of the field, whatever its text; no package name: skipped; no
    // version: "0.0.0".
    const Array installed{entry("a.b", "1.0", "false"), entry("e.f", "2.0", "true"),
                          Value{{"Version", "1.0"}}, entry("g.h", std::nullopt, std::nullopt)};
    const Dictionary params = Requests::buildCheckUpdateParameter(installed, phone());
    EXPECT_EQ(params.find("preloadAppInfo")->stringValue(), "a.b@001000:e.f@002000");
    EXPECT_EQ(params.find("appInfo")->stringValue(), "g.h@00000000000");
    const Dictionary map = Requests::buildApplistDictOnType(installed);
    EXPECT_EQ(map, (Dictionary{{"a.b", "preload"}, {"e.f", "preload"}, {"g.h", "postload"}}));

    const Array preloadedOnly{entry("a.b", "1", "true"), entry("c.d", "1", "true")};
    const Dictionary none = Requests::buildCheckUpdateParameter(preloadedOnly, phone());
    EXPECT_EQ(none.find("appInfo")->stringValue(), "");
    EXPECT_EQ(none.find("hashValue")->stringValue(), Requests::createHashValueForAppInfo(""));

    // One item is a list of one; a broken file is none.
    EXPECT_EQ(Requests::installedList("<Wapp><item><PackageName> x.y </PackageName></item></Wapp>")
                  .size(),
              1U);
    EXPECT_EQ(Requests::installedList(
                  "<Wapp><item><PackageName>x</PackageName></item><item><PackageName>y"
                  "</PackageName></item></Wapp>")
                  .size(),
              2U);
    EXPECT_TRUE(Requests::installedList("<Wapp><item>").empty());
    EXPECT_TRUE(Requests::installedList("").empty());
}

TEST(TQKavoAppUpdateRequestsTest, TheDownloadRequestNamesTheUpdatesByKind) {
    const Dictionary map{{"a.b", "preload"}, {"c.d", "postload"}};
    const Array appInfo{Value{{"appId", "a.b"}, {"resultCode", "2"}},
                        Value{{"appId", "c.d"}, {"resultCode", "0"}},
                        Value{{"appId", "x.y"}, {"resultCode", "2"}},
                        Value{{"appId", "z.z"}}};
    const Dictionary params = Requests::buildDownloadAppParameter(appInfo, map, phone());
    EXPECT_EQ(params.find("preloadAppInfo")->stringValue(), "a.b");
    EXPECT_EQ(params.find("appInfo")->stringValue(), "x.y");
    EXPECT_EQ(params.find("encImei")->stringValue(), "nzN5V9Is9cdtNw409ok1uuNvPCc=");
    EXPECT_EQ(query(params, Requests::kDownloadPath),
              "http://store.test/stub/kavoAppDownload.as?appInfo=x.y&csc=XAR"
              "&deviceId=1334x750_KV-R500_i&encImei=nzN5V9Is9cdtNw409ok1uuNvPCc%3D"
              "&hashValue=vN32QlyTl81gEC/YErPTjh2PwNw%3D&kOSVersion=3.0.1&loginType=N&mcc=310"
              "&mnc=260&pd=0&preloadAppInfo=a.b&sdkVer=12");
}

TEST(TQKavoAppUpdateRequestsTest, AnswersAreValidatedAndReadIntoEntries) {
    EXPECT_TRUE(Requests::validateResponseResultCode(Dictionary{}));
    EXPECT_TRUE(Requests::validateResponseResultCode(Dictionary{{"resultCode", "0"}}));
    EXPECT_FALSE(Requests::validateResponseResultCode(
        Dictionary{{"resultCode", "3001"}, {"resultMsg", "bad hash"}}));

    // A single element is a list of one; elements without code 1 give nothing.
    EXPECT_EQ(Requests::updateEntries(
                  Dictionary{{"appInfo", Value{{"appId", "a"}, {"resultCode", "1"}}}})
                  .size(),
              1U);
    const Dictionary answer{
        {"appInfo",
         Array{Value{{"appId", "a.b"},
                     {"resultCode", "1"},
                     {"downloadURI", "https://cdn.test/files/My%20App%2F2.wgt?sig=1"},
                     {"productName", "My App"}},
               Value{{"appId", "c.d"}, {"resultCode", "0"}},
               Value{{"appId", "e.f"}, {"resultCode", "1"}, {"downloadURI", "https://cdn.test/x"}}}}};
    const auto entries = Requests::updateEntries(answer);
    ASSERT_EQ(entries.size(), 2U);
    EXPECT_EQ(entries[0], (TQUpdateEntry{"https://cdn.test/files/My%20App%2F2.wgt?sig=1", "a.b",
                                         "My App", "MyApp_2.wgt"}));
    EXPECT_EQ(entries[1], (TQUpdateEntry{"https://cdn.test/x", "e.f", std::nullopt, std::nullopt}));
    EXPECT_EQ(Requests::fileNameFromURI("http://h/a.wgt/b.npk/c"), "b.npk");
}

}  // namespace
