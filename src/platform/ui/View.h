#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QResizeEvent>
#include <QWidget>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/image/Image.h"

namespace platform::ui {

// Geometry in points, the image layer's. One point is one pixel of the window: the layer
// draws at scale 1.
using Size = image::Size;
using Rect = image::Rect;

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

[[nodiscard]] inline Point center(const Rect& rect) {
    return {rect.x + rect.width / 2, rect.y + rect.height / 2};
}

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    friend bool operator==(const Color&, const Color&) = default;
};

// A copy of the view's drawing in one colour under it: the view's alpha mask filled with the
// colour at the colour's alpha times the opacity, blurred over the radius (0: crisp) and moved
// by the offset.
struct Shadow {
    Color color;
    double opacity = 1;
    double radius = 0;
    Size offset;
    friend bool operator==(const Shadow&, const Shadow&) = default;
};

[[nodiscard]] QColor toQColor(const Color& color);
[[nodiscard]] QString toQString(std::string_view text);
[[nodiscard]] std::string toStdString(const QString& text);

// Draws the widget at the alpha with the shadow; a widget holds one effect, so one serves
// both, and none is installed while the alpha is 1 and there is no shadow.
void applyViewEffect(QWidget& widget, double alpha, const std::optional<Shadow>& shadow);

// Adds what the pages need of every view to a Qt widget: a frame in fractional points (Qt's
// geometry is whole pixels, the layouts of the pages are not), an opacity, a shadow, and the
// hidden flag under the platform's name.
template <typename Base>
class Framed : public Base {
public:
    using Base::Base;

    void setFrame(const Rect& frame) {
        frame_ = frame;
        const QSize before = this->size();
        this->setGeometry(rounded(frame));
        // Qt holds the resize of a widget not on screen until it shows; the pages lay out at
        // once, shown or not.
        if (!this->isVisible() && this->testAttribute(Qt::WA_PendingResizeEvent)) {
            QResizeEvent event(this->size(), before);
            QCoreApplication::sendEvent(this, &event);
            this->setAttribute(Qt::WA_PendingResizeEvent, false);
        }
    }
    // The frame last set while the widget still stands there, else the widget's own geometry.
    [[nodiscard]] Rect frame() const {
        const QRect g = this->geometry();
        if (g == rounded(frame_)) {
            return frame_;
        }
        return Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())};
    }
    void setCenter(const Point& center) {
        Rect f = frame();
        f.x = center.x - f.width / 2;
        f.y = center.y - f.height / 2;
        setFrame(f);
    }

    // 0 (invisible) to 1 (opaque).
    void setAlpha(double alpha) {
        alpha_ = alpha;
        applyViewEffect(*this, alpha_, shadow_);
    }
    [[nodiscard]] double alpha() const { return alpha_; }

    // Drawn outside the frame as far as its offset and blur reach.
    void setShadow(std::optional<Shadow> shadow) {
        shadow_ = std::move(shadow);
        applyViewEffect(*this, alpha_, shadow_);
    }
    [[nodiscard]] const std::optional<Shadow>& shadow() const { return shadow_; }

    void setName(std::string_view name) { this->setObjectName(toQString(name)); }

    // Whether touches reach the view and its children.
    void setUserInteractionEnabled(bool enabled) {
        this->setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
    }
    [[nodiscard]] bool isUserInteractionEnabled() const {
        return !this->testAttribute(Qt::WA_TransparentForMouseEvents);
    }

private:
    static QRect rounded(const Rect& r) {
        return QRect(static_cast<int>(std::lround(r.x)), static_cast<int>(std::lround(r.y)),
                     static_cast<int>(std::lround(r.width)), static_cast<int>(std::lround(r.height)));
    }

    Rect frame_{-1, -1, -1, -1};
    double alpha_ = 1.0;
    std::optional<Shadow> shadow_;
};

// State kept on an object under a key, made on first use and released with the object.
class AttachedState : public QObject {
public:
    using QObject::QObject;
    std::shared_ptr<void> value;
};

template <typename T>
T& attached(QObject& owner, const char* key) {
    AttachedState* state = nullptr;
    for (QObject* child : owner.children()) {
        if (child->objectName() == QLatin1String(key)) {
            state = dynamic_cast<AttachedState*>(child);
            if (state != nullptr) {
                break;
            }
        }
    }
    if (state == nullptr) {
        state = new AttachedState(&owner);
        state->setObjectName(QLatin1String(key));
        state->value = std::make_shared<T>();
    }
    return *static_cast<T*>(state->value.get());
}

// A plain view: a rectangle with an optional background colour and children.
class View : public Framed<QWidget> {
public:
    explicit View(QWidget* parent = nullptr);
    void setBackgroundColor(const Color& color);
    [[nodiscard]] std::optional<Color> backgroundColor() const { return background_; }
    // A radius above 0 rounds the background and clips the children to it.
    void setCornerRadius(double radius);
    [[nodiscard]] double cornerRadius() const { return cornerRadius_; }
    // Places the children for the view's size; called whenever the size changes.
    virtual void layoutSubviews() {}
    // Called after layoutSubviews on every size change while `owner` lives: for what sizes
    // itself from this view without being laid out by it (a toast on its host, a banner strip
    // on the window).
    void onSizeChange(const QObject& owner, std::function<void()> handler);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::optional<Color> background_;
    double cornerRadius_ = 0;
    struct SizeObserver {
        QPointer<const QObject> owner;
        std::function<void()> handler;
    };
    std::vector<SizeObserver> sizeObservers_;
};

}  // namespace platform::ui
