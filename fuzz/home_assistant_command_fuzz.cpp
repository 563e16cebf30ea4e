// Feeds the reader of Home Assistant's commands arbitrary messages, as any client of the broker may
// publish them, and checks what must always hold: a command comes only from one of our command topics,
// asks for a palette there is, and a message that asks for nothing always says why.
#include "core/palette/palette.h"
#include "core/publishing/home_assistant_discovery.h"
#include "fuzz_support.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    const std::vector<std::string> parts = fuzz::partsOf(data, size, 3);
    const PublishedTopics topics(parts[0].empty() ? "glowcast" : parts[0]);
    const auto answer = homeAssistantCommand(topics, parts[1], parts[2]);
    if (const auto* why = std::get_if<std::string>(&answer)) {
        fuzz::require(!why->empty());
        return 0;
    }
    const auto& command = std::get<HomeAssistantCommand>(answer);
    const std::vector<std::string> commandTopics = topics.commandTopics();
    fuzz::require(std::ranges::find(commandTopics, parts[1]) != commandTopics.end());
    fuzz::require(command.action != HomeAssistantCommand::Action::Palette || paletteNamed(command.palette));
    return 0;
}
