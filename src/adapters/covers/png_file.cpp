#include "adapters/covers/png_file.h"

#include <spng.h>

#include <cstdlib>

namespace glowcast {

std::vector<std::uint8_t> encodePng(int width, int height, std::span<const std::uint8_t> rgb)
{
    if (width <= 0 || height <= 0 ||
        rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)
        return {};
    spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
    if (context == nullptr)
        return {};
    spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{};
    header.width = static_cast<std::uint32_t>(width);
    header.height = static_cast<std::uint32_t>(height);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    std::vector<std::uint8_t> png;
    if (spng_set_ihdr(context, &header) == 0 &&
        spng_encode_image(context, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0) {
        std::size_t size = 0;
        int error = 0;
        // libspng hands over a buffer of its own, which is freed here.
        if (void* bytes = spng_get_png_buffer(context, &size, &error); bytes != nullptr) {
            const auto* begin = static_cast<const std::uint8_t*>(bytes);
            png.assign(begin, begin + size);
            std::free(bytes);
        }
    }
    spng_ctx_free(context);
    return png;
}

} // namespace glowcast
