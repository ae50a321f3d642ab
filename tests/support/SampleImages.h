#pragma once

// Frames of the kinds the encoders must tell apart, shared by tests and benchmarks: real
// screenshots of terminals from the repository and a photograph-like rendering.

#include <QImage>

#include <random>

namespace pellux::test {

// A real screenshot from the repository, as the capture backend delivers it (RGB32).
inline QImage sampleScreenshot(const char *relativePath)
{
    return QImage(QStringLiteral(PELLUX_SOURCE_DIR "/") + QLatin1String(relativePath))
        .convertToFormat(QImage::Format_RGB32);
}

// One 908x616 xterm window full of text (light theme).
inline QImage terminalWindowFrame() { return sampleScreenshot("bench/data/ocr/xterm-window-dejavu11-light.png"); }

// A 1920x1080 desktop of three xterm windows.
inline QImage terminalDesktopFrame() { return sampleScreenshot("tests/data/xterm-desktop.png"); }

// A photograph-like frame: a landscape of smooth value noise over four octaves, shaded sky to
// ground, with the fine grain of a camera sensor. Deterministic for a seed.
inline QImage photographicFrame(int width, int height, std::uint32_t seed = 1)
{
    std::mt19937 random(seed);
    constexpr int kLattice = 65;
    std::vector<double> lattice(kLattice * kLattice);
    for (double &value : lattice)
        value = double(random()) / double(std::mt19937::max());
    const auto smooth = [&](double x, double y) {
        const int x0 = int(x) % (kLattice - 1);
        const int y0 = int(y) % (kLattice - 1);
        const double fx = x - std::floor(x);
        const double fy = y - std::floor(y);
        const double sx = fx * fx * (3 - 2 * fx);
        const double sy = fy * fy * (3 - 2 * fy);
        const auto at = [&](int cx, int cy) { return lattice[size_t(cy * kLattice + cx)]; };
        const double top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * sx;
        const double bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * sx;
        return top + (bottom - top) * sy;
    };
    QImage image(width, height, QImage::Format_RGB32);
    std::uniform_int_distribution<int> grain(-6, 6);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            double n = 0;
            double amplitude = 0.5;
            double frequency = 8.0 / width;
            for (int octave = 0; octave < 4; ++octave) {
                n += amplitude * smooth(x * frequency, y * frequency);
                amplitude /= 2;
                frequency *= 2;
            }
            // Sky above, foliage and earth below, both textured by the noise.
            const double r = v < 0.4 ? 90 + 120 * v + 60 * n : 60 + 110 * n;
            const double g = v < 0.4 ? 140 + 100 * v + 50 * n : 90 + 120 * n;
            const double b = v < 0.4 ? 220 - 60 * n : 40 + 60 * n;
            const auto channel = [&](double c) { return std::clamp(int(c) + grain(random), 0, 255); };
            line[x] = qRgb(channel(r), channel(g), channel(b));
        }
    }
    return image;
}

} // namespace pellux::test
