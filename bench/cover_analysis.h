#pragma once

// What the cover-change benchmarks measure the program against: a photograph-like cover, and its
// decoding and analysis in this process the way the program does them.

#include "adapters/covers/cover_file_decoder.h"
#include "core/bridge/bridge_body.h"
#include "core/json/json_codec.h"
#include "core/palette/eyedropper.h"
#include "core/palette/lamp_colour.h"
#include "core/ports/log.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace glowcast::bench {

// A 3000 x 3000 JPEG with flat areas, gradients and grain, so that it compresses like a photograph.
inline QByteArray photographLikeCover()
{
    QImage cover(3000, 3000, QImage::Format_RGB32);
    QPainter painter(&cover);
    QLinearGradient sky(0, 0, 0, 1800);
    sky.setColorAt(0, QColor(20, 60, 160));
    sky.setColorAt(1, QColor(230, 120, 40));
    painter.fillRect(0, 0, 3000, 1800, sky);
    painter.fillRect(0, 1800, 3000, 1200, QColor(30, 140, 60));
    painter.setBrush(QColor(240, 220, 30));
    painter.drawEllipse(1900, 500, 700, 700);
    painter.end();
    QRandomGenerator random(42);
    for (int y = 0; y < cover.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(cover.scanLine(y));
        for (int x = 0; x < cover.width(); ++x) {
            const int grain = static_cast<int>(random.bounded(21)) - 10;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + grain, 0, 255), std::clamp(qGreen(p) + grain, 0, 255),
                           std::clamp(qBlue(p) + grain, 0, 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    cover.save(&buffer, "JPEG", 90);
    return bytes;
}

// Milliseconds of each of runs decodings at 240 x 240 and extractions of 10 colours with their
// lamp-state bodies.
inline std::vector<double> analysisMilliseconds(const QByteArray& cover, int runs, Log& log)
{
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(cover.data()), static_cast<std::size_t>(cover.size()));
    std::vector<double> analysis;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        CoverFileDecoder decoder(log, 240);
        const auto image = decoder.decode(bytes);
        Eyedropper eyedropper(image.get(), log);
        for (const Colour& colour : eyedropper.getColours(10))
            (void)JSONFromDictionary(firstBridgeBody(lampTargetOf(colour, log)));
        analysis.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    return analysis;
}

} // namespace glowcast::bench
