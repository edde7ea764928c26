#include <gtest/gtest.h>

#include <fstream>

#include "TQUtilsFixture.h"
#include "ZipBytes.h"
#include "utils/TQUtils.h"

namespace {

namespace fs = std::filesystem;
using zip_test::ZipBytes;

const std::string kPng = std::string("\x89PNG\r\n\x1A\n", 8) + "rest of an image";

class TQUtilsPackageTest : public tqutils_test::TQUtilsTest {
protected:
    fs::path package(const ZipBytes& zip) {
        const fs::path path = dir_.path() / "download.wgt";
        std::ofstream(path, std::ios::binary) << zip.bytes();
        return path;
    }
    fs::path extracted() const { return documents() / "R5" / "Extract" / "app.wgt"; }
};

TEST_F(TQUtilsPackageTest, AWebApplicationsIconComesFromItsConfig) {
    const auto zip =
        ZipBytes()
            .add(ZipBytes::storedEntry(
                "config.xml",
                R"(<widget xmlns="http://www.w3.org/ns/widgets" id="a"><name>App</name>)"
                R"(<icon src="img/icon.png"/></widget>)"))
            .add(ZipBytes::storedEntry("img/icon.png", kPng))
            // A native manifest too: the config wins.
            .add(ZipBytes::storedEntry("nuvra-manifest.xml",
                                       "<manifest><icon>other.png</icon></manifest>"));
    const auto icon = TQUtils::getWgtIconFilePath(package(zip), "R5", "app.wgt");
    ASSERT_TRUE(icon);
    EXPECT_EQ(*icon, extracted() / "img" / "icon.png");
    EXPECT_TRUE(log_->logged("TQUtils: unzip success"));
}

TEST_F(TQUtilsPackageTest, ANativePackagesIconComesFromItsManifest) {
    const auto zip =
        ZipBytes()
            .add(ZipBytes::storedEntry(
                "nuvra-manifest.xml",
                "<manifest><icon>first.png</icon><app><icon>\n  app.png \n</icon></app>"
                "</manifest>"))
            .add(ZipBytes::storedEntry("shared/res/app.png", kPng));
    const auto icon = TQUtils::getWgtIconFilePath(package(zip), "R5", "app.wgt");
    ASSERT_TRUE(icon);
    EXPECT_EQ(*icon, extracted() / "shared" / "res" / "app.png");
    EXPECT_TRUE(log_->logged("TQUtils: parser found text for icon:  \n  app.png \n"));
}

TEST_F(TQUtilsPackageTest, IconsOutsideThePackageOrNotImagesAreRefused) {
    // An image the package would like to point at, beside its folder.
    fs::create_directories(extracted().parent_path());
    std::ofstream(extracted().parent_path() / "x", std::ios::binary) << kPng;

    const struct {
        const char* what;
        ZipBytes zip;
    } cases[] = {
        {"config naming ../x", ZipBytes().add(ZipBytes::storedEntry(
                                   "config.xml", R"(<widget><icon src="../x"/></widget>)"))},
        {"config naming an absolute path",
         ZipBytes().add(ZipBytes::storedEntry(
             "config.xml", "<widget><icon src=\"" + (extracted().parent_path() / "x").string() +
                               "\"/></widget>"))},
        {"manifest naming ../../../x",
         ZipBytes().add(ZipBytes::storedEntry("nuvra-manifest.xml",
                                              "<manifest><icon>../../../x</icon></manifest>"))},
        {"config without an icon",
         ZipBytes().add(ZipBytes::storedEntry("config.xml", "<widget><name>n</name></widget>"))},
        {"manifest without an icon",
         ZipBytes().add(ZipBytes::storedEntry("nuvra-manifest.xml", "<manifest/>"))},
        {"icon that is no image",
         ZipBytes()
             .add(ZipBytes::storedEntry("config.xml", R"(<widget><icon src="icon.png"/></widget>)"))
             .add(ZipBytes::storedEntry("icon.png", "not an image"))},
        {"no manifest at all", ZipBytes().add(ZipBytes::storedEntry("readme", "r"))},
        {"not a package", ZipBytes()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(extracted());
        EXPECT_FALSE(TQUtils::getWgtIconFilePath(package(c.zip), "R5", "app.wgt"));
    }
    EXPECT_FALSE(TQUtils::getWgtIconFilePath(dir_.path() / "download.wgt", "..", "app.wgt"));
    EXPECT_FALSE(TQUtils::getWgtIconFilePath(dir_.path() / "download.wgt", "R5", "../app.wgt"));
}

TEST_F(TQUtilsPackageTest, ManifestIconNames) {
    EXPECT_EQ(TQUtils::getIconName("<m><icon>a.png</icon></m>"), "a.png");
    EXPECT_EQ(TQUtils::getIconName("<m><icon>a.png</icon><icon>b.png</icon></m>"), "b.png");
    EXPECT_EQ(TQUtils::getIconName("<m>outside<icon>a<b>c</b>d</icon>after</m>"), "acd");
    EXPECT_EQ(TQUtils::getIconName("<m/>"), std::nullopt);
    EXPECT_EQ(TQUtils::getIconName("<m><icon>a.png</m>"), "");
}

TEST_F(TQUtilsPackageTest, RelativePathsFromOutside) {
    EXPECT_EQ(TQUtils::safeRelativePath("img/icon.png"), fs::path("img/icon.png"));
    EXPECT_EQ(TQUtils::safeRelativePath("./img//icon.png"), fs::path("img/icon.png"));
    for (const char* refused : {"", ".", "/etc/passwd", "../x", "a/../../x", "a/..", "a\\b"}) {
        EXPECT_FALSE(TQUtils::safeRelativePath(refused)) << refused;
    }
}

}  // namespace
