#include "adapters/process/console_prompts.h"
#include "adapters/process/portal_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace glowcast {
namespace {

TEST(PortalHostTest, ReadsHostOrHostAndPortAndIgnoresBlankValues)
{
    const std::pair<const char*, std::optional<std::string>> rows[] = {{nullptr, std::nullopt},
                                                                       {"", std::nullopt},
                                                                       {" \t\n", std::nullopt},
                                                                       {"portal.example.org", "portal.example.org"},
                                                                       {" 127.0.0.1:8080\n", "127.0.0.1:8080"}};
    for (const auto& [value, host] : rows) {
        value != nullptr ? setenv("GLOWCAST_PORTAL", value, 1) : unsetenv("GLOWCAST_PORTAL");
        EXPECT_EQ(portalHostFromEnvironment(), host) << (value != nullptr ? value : "unset");
    }
    unsetenv("GLOWCAST_PORTAL");
}

TEST(ConsolePromptsTest, LinkButtonPromptShowsOneLineWithADotPerAttempt)
{
    char* written = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&written, &size);
    ASSERT_NE(out, nullptr);
    ConsoleLinkButtonPrompt window{out};
    window.end();
    window.begin("10.0.0.2");
    window.attempt();
    window.attempt();
    window.end();
    window.attempt();
    std::fclose(out);
    EXPECT_EQ(std::string(written, size), "Press the link button on your lighting bridge now; waiting for it ..\n");
    std::free(written);
}

} // namespace
} // namespace glowcast
