// Decoding as the image cache does it (sniffing, the structure walk, the decode with the
// orientation applied, then the forced decode into a drawing bitmap), beside Qt's image reader
// alone on the same bytes: the ratio is what the layer adds. The forced decode makes a second
// full-size bitmap; both take memory the layer kept from the iteration before, as the reader
// alone gets its bitmap from memory the allocator kept.

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <cstdlib>

#include "Ratios.h"
#include "imagecache/WIImageDecoding.h"

namespace {

// A picture with detail everywhere, so that the coders do real work.
QImage photo(int width, int height, bool alpha) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int a = alpha ? 128 + (x ^ y) % 128 : 255;
            line[x] = qRgba((x * 7 + y) & 0xFF, (y * 5 + (x >> 3)) & 0xFF, (x * y) & 0xFF, a);
        }
    }
    return image;
}

platform::Bytes encoded(const QImage& image, const char* format) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    if (!writer.write(image)) {
        std::abort();
    }
    return platform::Bytes(out.begin(), out.end());
}

const platform::Bytes& jpeg() {
    static const platform::Bytes bytes = encoded(photo(2000, 1500, false), "jpeg");
    return bytes;
}

const platform::Bytes& png() {
    static const platform::Bytes bytes = encoded(photo(512, 512, true), "png");
    return bytes;
}

void layer(benchmark::State& state, const platform::Bytes& bytes) {
    for (auto _ : state) {
        auto image = wi::imageWithData(bytes);
        if (!image) {
            state.SkipWithError("no image");
            return;
        }
        auto decoded = wi::decodedImageWithImage(*image);
        benchmark::DoNotOptimize(decoded);
    }
}

void readerAlone(benchmark::State& state, const platform::Bytes& bytes) {
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<qsizetype>(bytes.size()));
    for (auto _ : state) {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        QImage image = reader.read();
        if (image.isNull()) {
            state.SkipWithError("no image");
            return;
        }
        benchmark::DoNotOptimize(image);
    }
}

void BM_LayerJpeg2000x1500(benchmark::State& state) {
    layer(state, jpeg());
}
void BM_QImageReaderJpeg2000x1500(benchmark::State& state) {
    readerAlone(state, jpeg());
}
void BM_LayerPng512(benchmark::State& state) {
    layer(state, png());
}
void BM_QImageReaderPng512(benchmark::State& state) {
    readerAlone(state, png());
}

BENCHMARK(BM_LayerJpeg2000x1500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QImageReaderJpeg2000x1500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayerPng512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QImageReaderPng512)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {.benchmark = "BM_LayerJpeg2000x1500",
         .reference = "BM_QImageReaderJpeg2000x1500",
         .goal = 1.2},
        {.benchmark = "BM_LayerPng512", .reference = "BM_QImageReaderPng512"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
