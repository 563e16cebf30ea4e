// png_floor FILE: decodes a PNG whole to RGBA with libspng and nothing else, the floor that
// `glowcastctl colours` is timed against as a process (bench/decoder-floor.sh).
#include <spng.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    std::ifstream file(argv[1], std::ios::binary | std::ios::ate);
    std::vector<char> bytes(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)));
    file.seekg(0);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    spng_ctx* context = spng_ctx_new(0);
    spng_set_png_buffer(context, bytes.data(), bytes.size());
    std::size_t size = 0;
    int error = spng_decoded_image_size(context, SPNG_FMT_RGBA8, &size);
    std::vector<unsigned char> pixels(size);
    if (error == 0)
        error = spng_decode_image(context, pixels.data(), pixels.size(), SPNG_FMT_RGBA8, 0);
    spng_ctx_free(context);
    if (error != 0) {
        std::fprintf(stderr, "png_floor: %s\n", spng_strerror(error));
        return 1;
    }
    return pixels.empty() ? 1 : 0;
}
