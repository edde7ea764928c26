#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image/Image.h"

namespace platform::image {

// The application's own pictures: SVG drawings compiled into the program (resources/images),
// looked up by name and drawn at the size a screen asks for. A name may end in ".png", as the
// screens were laid out with it: "minus" and "minus.png" are one picture. Each call draws anew;
// the caller keeps what it shows.

// Every name there is, without extension, sorted.
[[nodiscard]] std::vector<std::string> namedImageNames();

// The size the picture was drawn for, in points; none for an unknown name.
[[nodiscard]] std::optional<Size> namedImageSize(std::string_view name);

// The picture at the size it was drawn for, or at the given size in points (stretched to fill
// it), with `scale` pixels a point. An unknown name, or a size or scale out of range, gives a
// null image and a log line.
[[nodiscard]] Image namedImage(std::string_view name, double scale = 1.0);
[[nodiscard]] Image namedImage(std::string_view name, Size points, double scale = 1.0);

// The frames "<name>_1", "<name>_2", ... up to the first one missing, as one animation lasting
// `duration` seconds; a null image and a log line when there is no first frame.
[[nodiscard]] Image namedAnimation(std::string_view name, double duration, double scale = 1.0);
[[nodiscard]] Image namedAnimation(std::string_view name, Size points, double duration,
                                   double scale = 1.0);

}  // namespace platform::image
