#pragma once

#include <QPixmap>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/ui/View.h"

namespace platform::ui {

// Spoken announcements for assistive technology.
class Accessibility : public Replaceable<Accessibility> {
public:
    virtual ~Accessibility() = default;
    virtual void announce(QWidget& source, std::string_view text) = 0;

    // The installed one, else Qt's accessibility bridge.
    static Accessibility& current();
};

// Qt's accessibility events: the text becomes the source's description, sent as an alert.
class QtAccessibility final : public Accessibility {
public:
    void announce(QWidget& source, std::string_view text) override;
};

// Tests: keeps the texts.
class RecordingAccessibility final : public Accessibility {
public:
    void announce(QWidget& /*source*/, std::string_view text) override {
        announcements.emplace_back(text);
    }
    std::vector<std::string> announcements;
};

// A picture of what another widget showed when it was made, drawn at the view's origin.
class SnapshotView : public View {
public:
    explicit SnapshotView(QWidget* source, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
};

}  // namespace platform::ui
