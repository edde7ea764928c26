#include "http/HCImageResponseSerialization.h"

#include <algorithm>
#include <mutex>

#include "platform/image/ImageSource.h"

using platform::Bytes;
using platform::Value;
using platform::image::AlphaInfo;
using platform::image::Bitmap;
using platform::image::Format;
using platform::image::Image;
using platform::image::ImageSource;
using platform::net::URLResponse;

std::optional<Image> hc_safeImageWithData(std::span<const std::uint8_t> data) {
    static std::mutex lock;
    const std::scoped_lock hold(lock);
    auto image = platform::image::decodeImage(data);
    if (!image) {
        return std::nullopt;
    }
    return std::move(image).value();
}

std::optional<Image> HCImageWithDataAtScale(std::span<const std::uint8_t> data, double scale) {
    std::optional<Image> image = hc_safeImageWithData(data);
    if (!image || image->isAnimated()) {
        return image;
    }
    return Image(image->bitmap(), scale, image->orientation());
}

namespace {

// The bitmap of the format's own decoder, when the response names the format exactly and the
// data is of it.
Bitmap bitmapForType(const std::optional<URLResponse>& response,
                     std::span<const std::uint8_t> data) {
    if (!response) {
        return Bitmap();
    }
    Format wanted = Format::unknown;
    if (response->mimeType == "image/png") {
        wanted = Format::png;
    } else if (response->mimeType == "image/jpeg") {
        wanted = Format::jpeg;
    } else {
        return Bitmap();
    }
    if (platform::image::sniffFormat(data) != wanted) {
        return Bitmap();
    }
    auto source = ImageSource::create(data);
    if (!source || source->count() == 0) {
        return Bitmap();
    }
    const Bitmap bitmap = source->frame(0);
    // CMYK bitmaps are left to the general decoder.
    return bitmap.colorModel() == platform::image::ColorModel::cmyk ? Bitmap() : bitmap;
}

AlphaInfo inflatedLayout(AlphaInfo alpha) {
    if (alpha == AlphaInfo::none) {
        return AlphaInfo::noneSkipFirst;
    }
    if (alpha == AlphaInfo::noneSkipLast || alpha == AlphaInfo::noneSkipFirst) {
        return alpha;
    }
    return AlphaInfo::premultipliedFirst;
}

}  // namespace

std::optional<Image> HCInflatedImageFromResponseWithDataAtScale(
    const std::optional<URLResponse>& response, std::span<const std::uint8_t> data, double scale) {
    if (data.empty()) {
        return std::nullopt;
    }
    Bitmap bitmap = bitmapForType(response, data);
    const std::optional<Image> scaled = HCImageWithDataAtScale(data, scale);
    if (bitmap.isNull()) {
        if (!scaled || scaled->isAnimated()) {
            return scaled;
        }
        bitmap = scaled->bitmap();
        if (bitmap.isNull()) {
            return std::nullopt;
        }
    }
    if (bitmap.size().pixels() > kHCInflationMaxPixels || bitmap.bitsPerComponent() > 8) {
        return scaled;
    }
    const Bitmap drawn = bitmap.redrawn(inflatedLayout(bitmap.alphaInfo()));
    if (drawn.isNull()) {
        return scaled;
    }
    return Image(drawn, scale, scaled ? scaled->orientation() : platform::image::Orientation::up);
}

// ---- HCImageResponseSerializer ----

HCImageResponseSerializer::HCImageResponseSerializer() {
    acceptableContentTypes = std::set<std::string>{
        "image/tiff",   "image/jpeg", "image/gif",   "image/png",       "image/ico",
        "image/x-icon", "image/bmp",  "image/x-bmp", "image/x-xbitmap", "image/x-win-bitmap"};
}

std::shared_ptr<HCImageResponseSerializer> HCImageResponseSerializer::serializer() {
    return std::make_shared<HCImageResponseSerializer>();
}

HCResponseObject HCImageResponseSerializer::responseObject(
    const std::optional<URLResponse>& response, const std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    if (stopsAfterValidation(response, data, error)) {
        return Value();
    }
    const std::span<const std::uint8_t> body =
        data ? std::span<const std::uint8_t>(*data) : std::span<const std::uint8_t>();
    const std::optional<Image> image =
        automaticallyInflatesResponseImage
            ? HCInflatedImageFromResponseWithDataAtScale(response, body, imageScale)
            : HCImageWithDataAtScale(body, imageScale);
    return image ? platform::image::imageValue(*image) : Value();
}

std::unique_ptr<HCURLResponseSerialization> HCImageResponseSerializer::copy() const {
    auto made = std::make_unique<HCImageResponseSerializer>();
    made->imageScale = imageScale;
    made->automaticallyInflatesResponseImage = automaticallyInflatesResponseImage;
    return made;
}

Value HCImageResponseSerializer::encode() const {
    Value coded = HCHTTPResponseSerializer::encode();
    coded["imageScale"] = Value(imageScale);
    coded["automaticallyInflatesResponseImage"] = Value(automaticallyInflatesResponseImage);
    return coded;
}

// ---- HCCompoundResponseSerializer ----

std::shared_ptr<HCCompoundResponseSerializer>
HCCompoundResponseSerializer::compoundSerializerWithResponseSerializers(Members serializers) {
    auto made = std::make_shared<HCCompoundResponseSerializer>();
    made->responseSerializers = std::move(serializers);
    return made;
}

HCResponseObject HCCompoundResponseSerializer::responseObject(
    const std::optional<URLResponse>& response, const std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    for (const auto& member : responseSerializers) {
        if (dynamic_cast<const HCHTTPResponseSerializer*>(member.get()) == nullptr) {
            continue;
        }
        std::optional<HCError> memberError;
        Value object = member->responseObject(response, data, &memberError);
        if (!object.isNull()) {
            if (error != nullptr) {
                *error = HCErrorWithUnderlyingError(memberError, *error);
            }
            return object;
        }
    }
    return HCHTTPResponseSerializer::responseObject(response, data, error);
}

std::unique_ptr<HCURLResponseSerialization> HCCompoundResponseSerializer::copy() const {
    auto made = std::make_unique<HCCompoundResponseSerializer>();
    made->responseSerializers = responseSerializers;
    return made;
}

bool HCCompoundResponseSerializer::serializesSmallBodiesQuickly() const {
    // Members that are no response serializers are skipped when serializing.
    return std::all_of(
        responseSerializers.begin(), responseSerializers.end(), [](const auto& member) {
            const auto* serializer = dynamic_cast<const HCHTTPResponseSerializer*>(member.get());
            return serializer == nullptr || serializer->serializesSmallBodiesQuickly();
        });
}

Value HCCompoundResponseSerializer::encode() const {
    Value coded = HCHTTPResponseSerializer::encode();
    platform::Array members;
    for (const auto& member : responseSerializers) {
        if (const auto* coding = dynamic_cast<const HCHTTPResponseSerializer*>(member.get())) {
            members.push_back(coding->encode());
        }
    }
    coded["responseSerializers"] = Value(std::move(members));
    return coded;
}
