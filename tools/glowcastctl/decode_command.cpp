#include "commands.h"

#include <cstdio>

namespace glowcast::ctl {

int runDecode(Arguments /*args*/)
{
    std::fprintf(stderr, "glowcastctl decode: not built yet\n");
    return 1;
}

}  // namespace glowcast::ctl
