#pragma once

// The C interface of glowcast-qt-images, the module that reads every cover that is neither PNG nor
// JPEG with Qt's image readers (GIF, BMP, WebP and whatever else the installed image plugins
// read). The programs open it only when such a cover first arrives, so that a service that only
// ever sees PNG and JPEG covers never maps Qt Gui.

#include <cstddef>
#include <cstdint>

extern "C" {

struct GlowcastQtImagesRequest {
    const std::uint8_t* bytes;
    std::size_t size;
    int decodeWidth; // a cover larger than this in either side is reduced to exactly this size
    int decodeHeight;
    std::int64_t memoryBudgetBytes; // refused unread when decoding it would take more at once
};

// Called once per decode: with the cover (premultiplied RGBA rows of width * 4 bytes, valid only
// during the call) and a null refusal, or with no pixels and why the cover was refused.
using GlowcastQtImagesDelivery = void (*)(void* context, int width, int height, const std::uint8_t* rgba,
                                          const char* refusal);

using GlowcastQtImagesDecode = void(const GlowcastQtImagesRequest* request, GlowcastQtImagesDelivery deliver,
                                    void* context);
// Writes the format's short name ("gif", "bmp", ...) with its terminating zero into name and
// returns 1, or returns 0 when no reader takes the bytes or the name does not fit.
using GlowcastQtImagesFormat = int(const std::uint8_t* bytes, std::size_t size, char* name, std::size_t capacity);

GlowcastQtImagesDecode glowcast_qt_images_decode;
GlowcastQtImagesFormat glowcast_qt_images_format;
}
