#include "adapters/process/console_prompts.h"

namespace glowcast {

void ConsoleLinkButtonPrompt::begin(const std::string& /*bridge*/)
{
    if (!m_visible)
        std::fprintf(m_out, "Press the link button on your lighting bridge now; waiting for it ");
    m_visible = true;
    std::fflush(m_out);
}

void ConsoleLinkButtonPrompt::attempt()
{
    if (!m_visible)
        return;
    std::fputc('.', m_out);
    std::fflush(m_out);
}

void ConsoleLinkButtonPrompt::end()
{
    if (m_visible)
        std::fputc('\n', m_out);
    m_visible = false;
    std::fflush(m_out);
}

void ConsoleAlert::show(const AlertText& text)
{
    std::fprintf(m_out, "\n%s\n%s\n[%s]\n", text.title.c_str(), text.informativeText.c_str(), text.button.c_str());
    std::fflush(m_out);
}

} // namespace glowcast
