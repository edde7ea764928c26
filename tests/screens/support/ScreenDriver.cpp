#include "screens/support/ScreenDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <iostream>

#include "platform/foundation/Json.h"
#include "platform/ui/Controls.h"
#include "platform/ui/DataTable.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/Screenshot.h"
#include "platform/ui/Table.h"
#include "screens/TQMainStoryboard.h"
#include "ui/TQCustomNavigationViewController.h"
#include "ui/TQWindowServices.h"
#include "ui/support/OffscreenApplication.h"

namespace screens_test {

using platform::ui::Page;

namespace {

QWidget* visibleChild(QWidget& root, std::string_view name) {
    const QString wanted = platform::ui::toQString(name);
    if (root.objectName() == wanted && root.isVisible()) {
        return &root;
    }
    for (QWidget* child : root.findChildren<QWidget*>(wanted)) {
        if (child->isVisible()) {
            return child;
        }
    }
    return nullptr;
}

// Every label the row shows, in the order the row made them.
std::string rowText(const platform::ui::TableCell* cell) {
    std::string text;
    if (cell == nullptr) {
        return text;
    }
    for (const auto* label : cell->findChildren<platform::ui::Label*>()) {
        if (!label->isHidden() && !label->text().empty()) {
            text += (text.empty() ? "" : " | ") + label->text();
        }
    }
    return text;
}

bool usable(QWidget* widget) {
    return widget != nullptr && widget->isVisible() && widget->isEnabled();
}

}  // namespace

ScreenDriver::ScreenDriver(platform::ui::Size screen) : screen_(screen) {
    ui_test::application();
    window = std::make_unique<platform::ui::MainWindow>();
    window->setName("mainWindow");
    storyboard = TQMainStoryboard::make(services);
    // What the application delegate does for a new root: the page in a new root navigation.
    storyboard->setRootChanger([this](std::unique_ptr<Page> root, Page& /*from*/) {
        platform::ui::replaceRootView(*window,
                                      new TQCustomNavigationViewController(std::move(root)));
    });
    windowServices_ = std::make_unique<TQWindowServices>(*window, loop, host,
                                                         storyboard->pageFactory());
    window->makeKeyAndVisible();
}

ScreenDriver::~ScreenDriver() {
    windowServices_.reset();
    window.reset();
    // Frees what was handed to deleteLater while the loop and centre still stand.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

Page* ScreenDriver::show(std::string_view scene) {
    auto page = storyboard->instantiate(scene);
    if (!page) {
        return nullptr;
    }
    Page* shown = page.get();
    platform::ui::replaceRootView(*window, new TQCustomNavigationViewController(std::move(page)));
    settle();
    return shown;
}

Page* ScreenDriver::top() const {
    return platform::ui::topMostPage(*window);
}

std::string ScreenDriver::topScene() const {
    const Page* page = top();
    return page == nullptr ? std::string() : TQStoryboard::sceneOf(*page);
}

QWidget* ScreenDriver::findWidget(std::string_view name) const {
    if (platform::ui::AlertView* shown = alert()) {
        if (QWidget* found = visibleChild(*shown, name)) {
            return found;
        }
    }
    if (Page* page = top()) {
        if (QWidget* found = visibleChild(*page, name)) {
            return found;
        }
    }
    return visibleChild(*window, name);
}

bool ScreenDriver::tap(std::string_view name) {
    auto* button = find<QAbstractButton>(name);
    if (!usable(button)) {
        return false;
    }
    button->click();
    settle();
    return true;
}

bool ScreenDriver::type(std::string_view name, std::string_view text) {
    auto* field = find<platform::ui::TextField>(name);
    if (!usable(field)) {
        return false;
    }
    field->setFocus();
    QTest::keyClicks(field, platform::ui::toQString(text));
    settle();
    return true;
}

bool ScreenDriver::setSwitch(std::string_view name, bool on) {
    auto* control = find<platform::ui::Switch>(name);
    if (!usable(control)) {
        return false;
    }
    if (control->isOn() != on) {
        control->click();
    }
    settle();
    return true;
}

platform::ui::AlertView* ScreenDriver::alert() const {
    const auto shown = window->overlays(platform::ui::Layer::alert);
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
        if (auto* view = dynamic_cast<platform::ui::AlertView*>(*it); view && view->isVisible()) {
            return view;
        }
    }
    return nullptr;
}

bool ScreenDriver::answerAlert(std::string_view buttonTitle) {
    platform::ui::AlertView* shown = alert();
    if (shown == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < shown->buttonCount(); ++i) {
        if (shown->button(i).title() == buttonTitle) {
            shown->button(i).click();
            settle();
            return true;
        }
    }
    return false;
}

std::vector<std::string> ScreenDriver::rows(std::string_view tableName) const {
    std::vector<std::string> texts;
    const auto* table = find<platform::ui::TableView>(tableName);
    if (table == nullptr) {
        if (const auto* data = find<platform::ui::DataTableView>(tableName)) {
            for (std::size_t section = 0; section < data->numberOfSections(); ++section) {
                for (std::size_t row = 0; row < data->numberOfRows(section); ++row) {
                    texts.push_back(rowText(data->cell({section, row})));
                }
            }
        }
        return texts;
    }
    for (const auto& section : table->sections()) {
        for (const auto* cell : section.cells) {
            texts.push_back(rowText(cell));
        }
    }
    return texts;
}

void ScreenDriver::advance(double seconds) {
    loop.runUntilIdle();
    loop.advance(seconds);
    // What left the screen is freed now, not at some later turn of Qt's loop.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void ScreenDriver::linkEvent(std::string_view notification, platform::Value object) {
    center.post(std::string(notification), nullptr, std::move(object));
}

void ScreenDriver::watchMessage(const platform::Value& message, int appId) {
    const auto written = platform::json::write(message);
    const std::string json = written ? written.value() : std::string("{}");
    const platform::Value object{{"data", platform::Bytes(json.begin(), json.end())},
                                 {"appId", appId}};
    linkEvent("onDataReceivedNotification", object);
}

bool ScreenDriver::saveScreenshot(const std::filesystem::path& file) {
    const auto saved = platform::ui::saveScreenshot(*window, file);
    if (!saved) {
        std::cerr << "screenshot " << file << ": " << saved.error().message << "\n";
        return false;
    }
    return true;
}

}  // namespace screens_test
