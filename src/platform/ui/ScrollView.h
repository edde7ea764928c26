#pragma once

#include <QScrollArea>

#include "platform/ui/View.h"

namespace platform::ui {

// A page's scrolling area: one content view as wide as the area and as tall as its content
// height (never shorter than the area); what does not fit scrolls up and down under the
// phone's scroll bars.
class ScrollView : public Framed<QScrollArea> {
public:
    explicit ScrollView(QWidget* parent = nullptr);
    [[nodiscard]] View& contentView() { return *content_; }
    void setContentHeight(double height);
    [[nodiscard]] double contentHeight() const { return contentHeight_; }
    // How far the content is scrolled, in points from its top.
    [[nodiscard]] double contentOffset() const;
    void setContentOffset(double offset);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeContent();

    View* content_;
    double contentHeight_ = 0;
};

}  // namespace platform::ui
