#include "ui/TQWindowServices.h"

#include <utility>

TQWindowServices::TQWindowServices(platform::ui::MainWindow& window, platform::RunLoop& loop,
                                   platform::AppHost& base, TQPageFactory pages)
    : host_(window, base), navigator_(window, std::move(pages)), banners_(window, loop) {}
