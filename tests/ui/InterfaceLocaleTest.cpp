#include <gtest/gtest.h>

#include <memory>
#include <string_view>

#include "platform/ui/InterfaceLocale.h"
#include "ui/TQWindowServices.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::InterfaceLocale;
using ui_test::UiWorld;

TEST(InterfaceLocaleTest, TheProgramWithScreensMirrorsTheLayerWhenItsHostIsRightToLeft) {
    UiWorld world;
    EXPECT_FALSE(InterfaceLocale::current().isRightToLeft());
    {
        TQWindowServices services(*world.window, world.loop, world.host,
                                  [](std::string_view) { return nullptr; });
        EXPECT_FALSE(InterfaceLocale::current().isRightToLeft());
        world.host.layoutDirection = platform::LayoutDirection::rightToLeft;
        EXPECT_TRUE(InterfaceLocale::current().isRightToLeft()) << "read when asked";
        EXPECT_EQ(InterfaceLocale::current().backTitle(), "Back");
        EXPECT_EQ(InterfaceLocale::current().deleteTitle(), "Delete");
    }
    EXPECT_FALSE(InterfaceLocale::current().isRightToLeft()) << "the layer's own again";
}

}  // namespace
