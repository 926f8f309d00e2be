// Imaging costs on a channel image of the usual size (1568 x 5000): contrast, the
// 180-degree turn, the copy into the display bitmap, JPEG writing, boundary lines drawn
// by our canvas against QPainter on the same memory, and the picture shrunk for a fitted
// window by us against Qt's smooth scaling.
#include "Baseline.h"

#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"
#include "imaging/JPEG_IO.h"
#include "imaging/Shrink.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPoint>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

namespace {

using namespace vantorel;

constexpr int kWidth = 1568;
constexpr int kHeight = 5000;

TExtBitmap ChannelImage() {
    TExtBitmap b;
    b.SetPixelFormat(TPixelFormat::pf8bit);
    b.SetSize(kWidth, kHeight);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 12.0);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            const double v = 90.0 + 60.0 * ((x + y / 3) % 400) / 400.0 + noise(random);
            row[x] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
    return b;
}

// 500 random-walk polylines of 101 points: 50 000 segments of a few pixels each, like
// coastlines, some leaving the image.
std::vector<std::vector<TPoint>> Boundaries() {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> startX(-100, kWidth + 100);
    std::uniform_int_distribution<int> startY(-100, kHeight + 100);
    std::uniform_int_distribution<int> step(-8, 8);
    std::vector<std::vector<TPoint>> lines(500);
    for (auto& line : lines) {
        TPoint p{startX(random), startY(random)};
        for (int i = 0; i <= 100; ++i) {
            line.push_back(p);
            p.X += step(random);
            p.Y += step(random);
        }
    }
    return lines;
}

void BM_EqualizeContrast(benchmark::State& state) {
    TExtBitmap b = ChannelImage();
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.EqualizeContrast(0, 256, true, 2.5));
    }
}
BENCHMARK(BM_EqualizeContrast)->Unit(benchmark::kMillisecond);

void BM_StretchContrast(benchmark::State& state) {
    const TExtBitmap original = ChannelImage();
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        state.PauseTiming();
        TExtBitmap b = original;
        state.ResumeTiming();
        b.StretchContrast(3.0);
        benchmark::DoNotOptimize(b.Bits().data());
    }
}
BENCHMARK(BM_StretchContrast)->Unit(benchmark::kMillisecond);

void BM_Rotate24(benchmark::State& state) {
    TExtBitmap b = ChannelImage();
    b.SetPixelFormat(TPixelFormat::pf24bit);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        b.Rotate();
        benchmark::DoNotOptimize(b.Bits().data());
    }
}
BENCHMARK(BM_Rotate24)->Unit(benchmark::kMillisecond);

void BM_Copy8To24(benchmark::State& state) {
    const TExtBitmap channel = ChannelImage();
    TBitmap display;
    display.SetSize(kWidth, kHeight);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        display.Canvas().Draw(0, 0, channel);
        benchmark::DoNotOptimize(display.Bits().data());
    }
}
BENCHMARK(BM_Copy8To24)->Unit(benchmark::kMillisecond);

// The pass fitted to a window 731 pixels high, remade on every arrow key: by area
// averages straight from the 24-bit picture (0), or converted to 32 bits and smoothly
// scaled by Qt (1).
void BM_ShrinkForWindow(benchmark::State& state) {
    EnsureGuiApplication();
    TExtBitmap picture = ChannelImage();
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    const QImage view(picture.Bits().data(), kWidth, kHeight, picture.Stride(),
                      QImage::Format_BGR888);
    QImage shrunk(229, 731, QImage::Format_RGB32);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        if (state.range(0) == 0) {
            ShrinkByAreas(picture, shrunk.width(), shrunk.height(),
                          reinterpret_cast<std::uint32_t*>(shrunk.bits()), shrunk.bytesPerLine());
        } else {
            shrunk = view.convertToFormat(QImage::Format_RGB32)
                         .scaled(shrunk.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        benchmark::DoNotOptimize(shrunk.constBits());
    }
}
BENCHMARK(BM_ShrinkForWindow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_WriteJpeg24(benchmark::State& state) {
    TExtBitmap b = ChannelImage();
    b.SetPixelFormat(TPixelFormat::pf24bit);
    const std::string path =
        (std::filesystem::temp_directory_path() / "vantorel-bench-imaging.jpg").string();
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(WriteJpegFile(b, path, 92, false, "benchmark"));
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteJpeg24)->Unit(benchmark::kMillisecond);

void BM_CanvasLines(benchmark::State& state) {
    const auto lines = Boundaries();
    TBitmap display;
    display.SetSize(kWidth, kHeight);
    display.Canvas().Pen.Width = static_cast<int>(state.range(0));
    display.Canvas().Pen.Color = clYellow;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        for (const auto& line : lines) {
            display.Canvas().Polyline(line);
        }
        benchmark::DoNotOptimize(display.Bits().data());
    }
    state.SetItemsProcessed(state.iterations() * 50000);
}
BENCHMARK(BM_CanvasLines)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// QPainter on a view of the same 24-bit memory; range(1) 0 = polylines, 1 = segments.
void BM_QPainterLines(benchmark::State& state) {
    EnsureGuiApplication();
    const auto lines = Boundaries();
    std::vector<std::vector<QPoint>> qlines;
    for (const auto& line : lines) {
        std::vector<QPoint> q;
        for (const TPoint& p : line) {
            q.emplace_back(p.X, p.Y);
        }
        qlines.push_back(std::move(q));
    }
    TBitmap display;
    display.SetSize(kWidth, kHeight);
    QImage view(display.Bits().data(), kWidth, kHeight, display.Stride(), QImage::Format_BGR888);
    const bool segments = state.range(1) != 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        QPainter painter(&view);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QColor(255, 255, 0), static_cast<qreal>(state.range(0))));
        for (const auto& q : qlines) {
            if (segments) {
                for (std::size_t i = 1; i < q.size(); ++i) {
                    painter.drawLine(q[i - 1], q[i]);
                }
            } else {
                painter.drawPolyline(q.data(), static_cast<int>(q.size()));
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * 50000);
}
BENCHMARK(BM_QPainterLines)
    ->ArgsProduct({{1, 2, 3}, {0, 1}})
    ->ArgNames({"width", "segments"})
    ->Unit(benchmark::kMillisecond);

} // namespace
