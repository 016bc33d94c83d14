// The sample ships' screenshots: a small rasteriser that draws a ship over a star
// field and a planet, and a PNG writer over zlib, so that the generator needs
// nothing beyond QtCore. Everything is computed from fixed numbers: the pictures
// come out byte for byte the same on every run.
#include "samplegame.h"

#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace SampleGame {

namespace {

struct Colour
{
    float r, g, b;
};

Colour mix(const Colour& a, const Colour& b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

struct Point
{
    float x, y;
};

class Canvas
{
public:
    Canvas(int width, int height)
        : m_width(width), m_height(height), m_pixels(static_cast<size_t>(width * height))
    {
    }
    int width() const { return m_width; }
    int height() const { return m_height; }
    Colour& at(int x, int y) { return m_pixels[static_cast<size_t>(y * m_width + x)]; }
    void blend(int x, int y, const Colour& c, float alpha)
    {
        if (x < 0 || y < 0 || x >= m_width || y >= m_height || alpha <= 0)
            return;
        Colour& p = at(x, y);
        p = mix(p, c, std::min(alpha, 1.0f));
    }
    void add(int x, int y, const Colour& c, float amount)
    {
        if (x < 0 || y < 0 || x >= m_width || y >= m_height)
            return;
        Colour& p = at(x, y);
        p = {p.r + c.r * amount, p.g + c.g * amount, p.b + c.b * amount};
    }

    // Even-odd fill with exact horizontal and 4x vertical coverage, so that edges
    // come out smooth. `paint` gives the colour at a pixel centre.
    void fill(const std::vector<Point>& polygon, const std::function<Colour(float, float)>& paint,
              float opacity = 1.0f)
    {
        if (polygon.size() < 3)
            return;
        float top = polygon[0].y, bottom = polygon[0].y;
        for (const Point& p : polygon) {
            top = std::min(top, p.y);
            bottom = std::max(bottom, p.y);
        }
        const int y0 = std::max(0, static_cast<int>(std::floor(top)));
        const int y1 = std::min(m_height - 1, static_cast<int>(std::ceil(bottom)));
        std::vector<float> coverage(static_cast<size_t>(m_width));
        std::vector<float> crossings;
        constexpr int kSub = 4;
        for (int y = y0; y <= y1; ++y) {
            std::fill(coverage.begin(), coverage.end(), 0.0f);
            int left = m_width, right = -1;
            for (int sub = 0; sub < kSub; ++sub) {
                const float sy = static_cast<float>(y) + (static_cast<float>(sub) + 0.5f) / kSub;
                crossings.clear();
                for (size_t i = 0; i < polygon.size(); ++i) {
                    const Point& a = polygon[i];
                    const Point& b = polygon[(i + 1) % polygon.size()];
                    if ((a.y <= sy) == (b.y <= sy))
                        continue;
                    crossings.push_back(a.x + (sy - a.y) / (b.y - a.y) * (b.x - a.x));
                }
                std::sort(crossings.begin(), crossings.end());
                for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
                    const float xa = std::max(0.0f, crossings[i]);
                    const float xb = std::min(static_cast<float>(m_width), crossings[i + 1]);
                    for (int x = static_cast<int>(xa); x < m_width && x < xb; ++x) {
                        const float from = std::max(xa, static_cast<float>(x));
                        const float to = std::min(xb, static_cast<float>(x + 1));
                        if (to > from) {
                            coverage[static_cast<size_t>(x)] += (to - from) / kSub;
                            left = std::min(left, x);
                            right = std::max(right, x);
                        }
                    }
                }
            }
            for (int x = left; x <= right; ++x)
                if (coverage[static_cast<size_t>(x)] > 0)
                    blend(x, y, paint(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f),
                          coverage[static_cast<size_t>(x)] * opacity);
        }
    }

    // Rows of 8-bit RGB.
    QByteArray rgb() const
    {
        QByteArray out;
        out.reserve(m_width * m_height * 3);
        const auto byte = [](float v) {
            return static_cast<char>(std::clamp(static_cast<int>(std::lround(v * 255.0f)), 0, 255));
        };
        for (const Colour& p : m_pixels)
            out.append(byte(p.r)).append(byte(p.g)).append(byte(p.b));
        return out;
    }

private:
    int m_width, m_height;
    std::vector<Colour> m_pixels;
};

std::vector<Point> ellipse(float cx, float cy, float rx, float ry, int steps = 48)
{
    std::vector<Point> points;
    for (int i = 0; i < steps; ++i) {
        const float a = 2.0f * 3.14159265f * static_cast<float>(i) / static_cast<float>(steps);
        points.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
    }
    return points;
}

// A ship drawn in its own frame (nose towards -y, units of about a pixel at scale
// 1), placed by rotation, scale and position.
struct Placement
{
    float x, y, scale, angle;

    Point toCanvas(const Point& p) const
    {
        const float c = std::cos(angle), s = std::sin(angle);
        return {x + scale * (p.x * c - p.y * s), y + scale * (p.x * s + p.y * c)};
    }
    Point toShip(float px, float py) const
    {
        const float c = std::cos(angle), s = std::sin(angle);
        const float dx = (px - x) / scale, dy = (py - y) / scale;
        return {dx * c + dy * s, -dx * s + dy * c};
    }
    std::vector<Point> place(const std::vector<Point>& shape) const
    {
        std::vector<Point> out;
        for (const Point& p : shape)
            out.push_back(toCanvas(p));
        return out;
    }
};

std::vector<Point> mirrored(const std::vector<Point>& shape)
{
    std::vector<Point> out;
    for (auto it = shape.rbegin(); it != shape.rend(); ++it)
        out.push_back({-it->x, it->y});
    return out;
}

void drawBackground(Canvas& canvas, quint32 seed, const Colour& nebula, const Colour& planet)
{
    const int w = canvas.width(), h = canvas.height();
    const Colour deep{0.01f, 0.015f, 0.05f}, horizon{0.04f, 0.06f, 0.14f};
    for (int y = 0; y < h; ++y) {
        const Colour row = mix(deep, horizon, static_cast<float>(y) / static_cast<float>(h));
        for (int x = 0; x < w; ++x) {
            // Two soft clouds of gas.
            const float dx1 = (static_cast<float>(x) - w * 0.25f) / (w * 0.28f);
            const float dy1 = (static_cast<float>(y) - h * 0.3f) / (h * 0.22f);
            const float dx2 = (static_cast<float>(x) - w * 0.7f) / (w * 0.2f);
            const float dy2 = (static_cast<float>(y) - h * 0.15f) / (h * 0.18f);
            const float glow = 0.35f * std::exp(-(dx1 * dx1 + dy1 * dy1)) +
                               0.18f * std::exp(-(dx2 * dx2 + dy2 * dy2));
            canvas.at(x, y) = {row.r + nebula.r * glow, row.g + nebula.g * glow,
                               row.b + nebula.b * glow};
        }
    }
    // Stars: a fixed pseudo-random field, a few of them larger and tinted.
    quint32 state = seed;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int i = 0; i < 700; ++i) {
        const int x = static_cast<int>(next() % static_cast<quint32>(w));
        const int y = static_cast<int>(next() % static_cast<quint32>(h));
        const float bright = 0.25f + static_cast<float>(next() % 750) / 1000.0f;
        const quint32 kind = next() % 10;
        const Colour tint = kind == 0   ? Colour{1.0f, 0.8f, 0.6f}
                            : kind == 1 ? Colour{0.7f, 0.8f, 1.0f}
                                        : Colour{1.0f, 1.0f, 1.0f};
        canvas.add(x, y, tint, bright);
        if (next() % 12 == 0) {
            for (const auto& [ox, oy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
                canvas.add(x + ox, y + oy, tint, bright * 0.45f);
        }
    }
    // A planet low on the right, lit from the upper left, with a thin atmosphere.
    const float pcx = w * 0.86f, pcy = h * 1.02f, pr = h * 0.42f;
    const Colour dark{planet.r * 0.08f, planet.g * 0.08f, planet.b * 0.1f};
    canvas.fill(
        ellipse(pcx, pcy, pr * 1.04f, pr * 1.04f, 160),
        [&](float, float) {
            return Colour{0.45f, 0.65f, 1.0f};
        },
        0.25f);
    canvas.fill(ellipse(pcx, pcy, pr, pr, 160), [&](float px, float py) {
        const float nx = (px - pcx) / pr, ny = (py - pcy) / pr;
        const float nz = std::sqrt(std::max(0.0f, 1.0f - nx * nx - ny * ny));
        const float light = std::max(0.0f, -0.62f * nx - 0.55f * ny + 0.56f * nz);
        // Bands of cloud across the surface.
        const float band = 0.5f + 0.5f * std::sin(ny * 19.0f + std::sin(nx * 5.0f) * 1.6f);
        const Colour surface = mix(planet, Colour{0.9f, 0.92f, 0.95f}, band * 0.22f);
        return mix(dark, surface, std::pow(light, 0.8f));
    });
}

struct ShipDesign
{
    std::vector<Point> hull;
    std::vector<Point> wing;               // the right wing; the left is its mirror
    std::vector<std::vector<Point>> parts; // guns, turret: drawn dark
    Point canopy;
    Point canopySize;
    std::vector<Point> engines; // nozzle centres at the stern
    float engineWidth;
    Colour wingColour;
};

ShipDesign merganser()
{
    ShipDesign d;
    d.hull = {{0, -130}, {10, -112}, {19, -78},  {25, -20},  {24, 40},   {18, 78},
              {-18, 78}, {-24, 40},  {-25, -20}, {-19, -78}, {-10, -112}};
    d.wing = {{22, -12}, {112, 46}, {118, 74}, {104, 80}, {22, 52}};
    d.parts = {ellipse(0, 44, 11, 11, 24),
               {{-2.5f, 20}, {2.5f, 20}, {2.5f, 44}, {-2.5f, 44}},
               {{100, 30}, {104, 30}, {104, 62}, {100, 62}},
               {{-104, 30}, {-100, 30}, {-100, 62}, {-104, 62}}};
    d.canopy = {0, -62};
    d.canopySize = {9, 24};
    d.engines = {{0, 78}};
    d.engineWidth = 15;
    d.wingColour = {0.25f, 0.45f, 0.78f};
    return d;
}

ShipDesign goosander()
{
    ShipDesign d;
    d.hull = {{0, -112}, {16, -100}, {30, -60}, {36, 0},    {36, 60},   {28, 92},
              {-28, 92}, {-36, 60},  {-36, 0},  {-30, -60}, {-16, -100}};
    d.wing = {{34, -30}, {128, 10}, {134, 70}, {34, 74}};
    for (const float x : {-118.0f, -96.0f, 96.0f, 118.0f})
        d.parts.push_back({{x - 3, -44}, {x + 3, -44}, {x + 3, 24}, {x - 3, 24}});
    d.canopy = {0, -52};
    d.canopySize = {12, 22};
    d.engines = {{-16, 92}, {16, 92}};
    d.engineWidth = 12;
    d.wingColour = {0.62f, 0.35f, 0.18f};
    return d;
}

void drawShip(Canvas& canvas, const ShipDesign& d, const Placement& at)
{
    // Exhaust first, so that the hull covers its root.
    for (const Point& e : d.engines) {
        const std::vector<Point> flame = {{e.x - d.engineWidth, e.y - 2},
                                          {e.x + d.engineWidth, e.y - 2},
                                          {e.x + d.engineWidth * 0.35f, e.y + 70},
                                          {e.x, e.y + 96},
                                          {e.x - d.engineWidth * 0.35f, e.y + 70}};
        canvas.fill(
            at.place(flame),
            [&](float px, float py) {
                const Point p = at.toShip(px, py);
                const float t = std::clamp((p.y - e.y) / 96.0f, 0.0f, 1.0f);
                return mix(Colour{1.0f, 0.97f, 0.75f}, Colour{1.0f, 0.35f, 0.05f}, t);
            },
            0.92f);
    }
    const auto wingPaint = [&](float px, float py) {
        const Point p = at.toShip(px, py);
        const float t = std::clamp((p.y + 30) / 120.0f, 0.0f, 1.0f);
        return mix(mix(d.wingColour, Colour{1, 1, 1}, 0.25f),
                   mix(d.wingColour, Colour{0, 0, 0}, 0.35f), t);
    };
    // An outline a little larger, drawn first and dark.
    const auto outline = [](const std::vector<Point>& shape, float grow) {
        float cx = 0, cy = 0;
        for (const Point& p : shape) {
            cx += p.x;
            cy += p.y;
        }
        cx /= static_cast<float>(shape.size());
        cy /= static_cast<float>(shape.size());
        std::vector<Point> out;
        for (const Point& p : shape) {
            const float dx = p.x - cx, dy = p.y - cy;
            const float len = std::max(1.0f, std::sqrt(dx * dx + dy * dy));
            out.push_back({p.x + dx / len * grow, p.y + dy / len * grow});
        }
        return out;
    };
    const Colour edge{0.12f, 0.13f, 0.15f};
    for (const std::vector<Point>& wing : {d.wing, mirrored(d.wing)}) {
        canvas.fill(at.place(outline(wing, 2.5f)), [&](float, float) { return edge; });
        canvas.fill(at.place(wing), wingPaint);
    }
    canvas.fill(at.place(outline(d.hull, 2.5f)), [&](float, float) { return edge; });
    canvas.fill(at.place(d.hull), [&](float px, float py) {
        // Brushed metal: bright along the spine, darker towards the flanks.
        const Point p = at.toShip(px, py);
        const float across = std::clamp(p.x / 36.0f, -1.0f, 1.0f);
        const float shine = 1.0f - std::abs(across + 0.25f);
        const float along = std::clamp((p.y + 130) / 230.0f, 0.0f, 1.0f);
        const Colour metal = mix(Colour{0.42f, 0.44f, 0.47f}, Colour{0.95f, 0.96f, 0.97f},
                                 std::clamp(shine, 0.0f, 1.0f));
        return mix(metal, Colour{0.3f, 0.31f, 0.33f}, along * 0.35f);
    });
    // Panel lines across the hull.
    for (const float y : {-40.0f, 10.0f, 55.0f})
        canvas.fill(
            at.place({{-30, y}, {30, y}, {30, y + 1.6f}, {-30, y + 1.6f}}),
            [&](float, float) { return edge; }, 0.35f);
    for (const std::vector<Point>& part : d.parts)
        canvas.fill(at.place(part), [&](float, float) { return Colour{0.2f, 0.21f, 0.24f}; });
    canvas.fill(at.place(ellipse(d.canopy.x, d.canopy.y, d.canopySize.x + 2, d.canopySize.y + 2)),
                [&](float, float) { return edge; });
    canvas.fill(at.place(ellipse(d.canopy.x, d.canopy.y, d.canopySize.x, d.canopySize.y)),
                [&](float px, float py) {
                    const Point p = at.toShip(px, py);
                    const float t = std::clamp(
                        (p.y - d.canopy.y + d.canopySize.y) / (2 * d.canopySize.y), 0.0f, 1.0f);
                    return mix(Colour{0.85f, 0.93f, 1.0f}, Colour{0.18f, 0.38f, 0.7f}, t);
                });
}

void putChunk(QByteArray& png, const char* type, const QByteArray& data)
{
    char length[4];
    qToBigEndian(static_cast<quint32>(data.size()), length);
    png.append(length, 4);
    const QByteArray body = QByteArray(type, 4) + data;
    png.append(body);
    char crc[4];
    qToBigEndian(static_cast<quint32>(crc32(0L, reinterpret_cast<const Bytef*>(body.constData()),
                                            static_cast<uInt>(body.size()))),
                 crc);
    png.append(crc, 4);
}

} // namespace

QByteArray EncodePng(int width, int height, const QByteArray& rgb)
{
    if (width <= 0 || height <= 0 || rgb.size() != qsizetype(width) * height * 3)
        return {};
    // Every row with the "Up" filter: the pictures are mostly gradients.
    const qsizetype stride = qsizetype(width) * 3;
    QByteArray filtered;
    filtered.reserve((stride + 1) * height);
    for (int y = 0; y < height; ++y) {
        filtered.append(y == 0 ? '\0' : '\2');
        const char* row = rgb.constData() + y * stride;
        for (qsizetype i = 0; i < stride; ++i)
            filtered.append(static_cast<char>(y == 0 ? row[i] : row[i] - row[i - stride]));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(filtered.size()));
    QByteArray packed(static_cast<qsizetype>(packedSize), '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(filtered.constData()),
                  static_cast<uLong>(filtered.size()), 9) != Z_OK)
        return {};
    packed.truncate(static_cast<qsizetype>(packedSize));

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian(static_cast<quint32>(width), header.data());
    qToBigEndian(static_cast<quint32>(height), header.data() + 4);
    header[8] = 8; // bits per channel
    header[9] = 2; // true colour, no alpha
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", packed);
    putChunk(png, "IEND", QByteArray());
    return png;
}

QByteArray ShipScreenshot(const QString& ship)
{
    constexpr int kWidth = 800, kHeight = 600;
    Canvas canvas(kWidth, kHeight);
    const bool heavy = ship.compare(QLatin1String("Goosander"), Qt::CaseInsensitive) == 0;
    drawBackground(canvas, heavy ? 0x474f4fu : 0x4d4552u,
                   heavy ? Colour{0.45f, 0.2f, 0.35f} : Colour{0.2f, 0.3f, 0.6f},
                   heavy ? Colour{0.75f, 0.5f, 0.3f} : Colour{0.3f, 0.55f, 0.75f});
    const float quarter = 3.14159265f / 4;
    drawShip(canvas, heavy ? goosander() : merganser(),
             heavy ? Placement{360, 300, 1.55f, quarter * 1.15f}
                   : Placement{380, 290, 1.6f, quarter});
    return EncodePng(kWidth, kHeight, canvas.rgb());
}

} // namespace SampleGame
