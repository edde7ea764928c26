#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "http/HCURLResponseSerialization.h"
#include "platform/image/Decode.h"
#include "platform/image/Image.h"

// The image of the data, decoded while holding one process-wide lock, so that at most one
// decode through this call runs at a time; nothing when the data is no image.
std::optional<platform::image::Image> hc_safeImageWithData(std::span<const std::uint8_t> data);

// Turns an image body into an image (a Value holding a platform::image::ImageObject) and, by
// default, draws it once into a bitmap before handing it on so that drawing it later costs
// nothing more.
class HCImageResponseSerializer : public HCHTTPResponseSerializer {
public:
    HCImageResponseSerializer();
    static std::shared_ptr<HCImageResponseSerializer> serializer();

    double imageScale = platform::image::kMainScreenScale;
    bool automaticallyInflatesResponseImage = true;

    HCResponseObject responseObject(const std::optional<platform::net::URLResponse>& response,
                                    const std::optional<platform::Bytes>& data,
                                    std::optional<HCError>* error) const override;
    [[nodiscard]] std::unique_ptr<HCURLResponseSerialization> copy() const override;
    [[nodiscard]] const char* className() const override { return "HCImageResponseSerializer"; }
    // A few KiB of image may still decode to a large bitmap, under the process-wide lock.
    [[nodiscard]] bool serializesSmallBodiesQuickly() const override { return false; }
    // Adds "imageScale" and "automaticallyInflatesResponseImage".
    [[nodiscard]] platform::Value encode() const override;
};

// Inflation leaves alone images above this many pixels (1024 x 1024 still passes).
inline constexpr std::int64_t kHCInflationMaxPixels = 1024 * 1024;

// The decoded image with the scale given (animations as they came); nothing when the data is
// no image.
std::optional<platform::image::Image> HCImageWithDataAtScale(std::span<const std::uint8_t> data,
                                                             double scale);
// As above, drawn once into a bitmap of the screen's layout: an opaque image becomes
// none-skip-first, one with alpha premultiplied-first. Animations, images above
// kHCInflationMaxPixels and deeper than 8 bits per component come back undrawn.
std::optional<platform::image::Image> HCInflatedImageFromResponseWithDataAtScale(
    const std::optional<platform::net::URLResponse>& response, std::span<const std::uint8_t> data,
    double scale);

// Tries its serializers in order; the first result that is not null wins.
class HCCompoundResponseSerializer : public HCHTTPResponseSerializer {
public:
    using Members = std::vector<std::shared_ptr<const HCURLResponseSerialization>>;

    static std::shared_ptr<HCCompoundResponseSerializer> compoundSerializerWithResponseSerializers(
        Members serializers);

    Members responseSerializers;

    HCResponseObject responseObject(const std::optional<platform::net::URLResponse>& response,
                                    const std::optional<platform::Bytes>& data,
                                    std::optional<HCError>* error) const override;
    [[nodiscard]] std::unique_ptr<HCURLResponseSerialization> copy() const override;
    [[nodiscard]] const char* className() const override { return "HCCompoundResponseSerializer"; }
    // When every member does.
    [[nodiscard]] bool serializesSmallBodiesQuickly() const override;
    // Adds "responseSerializers", the coding of each member that has one.
    [[nodiscard]] platform::Value encode() const override;
};
