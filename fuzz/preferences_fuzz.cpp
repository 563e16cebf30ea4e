#include "adapters/files/file_preferences.h"
#include "core/settings.h"
#include "support/recording_log.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

// Any bytes as a preferences file: a reading without a crash, and a selection that reads back
// unchanged once it has been written.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    glowcast::NullLog log;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const glowcast::preferences_document::Parsed parsed = glowcast::preferences_document::parse(bytes);
    if (!parsed.document) {
        if (parsed.error.isEmpty())
            std::abort();
        return 0;
    }
    glowcast::preferences_document::report(*parsed.document, log);
    (void)glowcast::preferences_document::text(*parsed.document, "username", &log);
    // Every settings key reads as absent, one of the kinds or something else, and a value written back
    // reads the same.
    for (const glowcast::SettingRow& row : glowcast::settingRows()) {
        const glowcast::StoredSetting stored = glowcast::preferences_document::setting(*parsed.document, row.key);
        if (stored.value && !stored.otherKind.empty())
            std::abort();
        if (stored.value) {
            QJsonObject written;
            written.insert(QStringLiteral("key"), glowcast::preferences_document::settingValue(*stored.value));
            if (glowcast::preferences_document::setting(written, "key").value != stored.value)
                std::abort();
        }
    }
    // The lamp systems written back over what was stored read the same, and nothing unusable is lost.
    const auto systems = glowcast::preferences_document::systems(*parsed.document, &log);
    QJsonObject withSystems = *parsed.document;
    const QJsonValue systemsValue = glowcast::preferences_document::systemsValue(*parsed.document, systems);
    if (systemsValue.isNull())
        withSystems.remove(QStringLiteral("systems"));
    else
        withSystems.insert(QStringLiteral("systems"), systemsValue);
    if (glowcast::preferences_document::systems(withSystems, nullptr) != systems)
        std::abort();
    if (parsed.document->value(QStringLiteral("systems")).isArray() &&
        withSystems.value(QStringLiteral("systems")).toArray().size() !=
            parsed.document->value(QStringLiteral("systems")).toArray().size())
        std::abort();

    const auto lamps = glowcast::preferences_document::lamps(*parsed.document, &log);
    if (!lamps)
        return 0;

    QJsonObject rewritten = *parsed.document;
    rewritten.insert(QStringLiteral("lamps"), glowcast::preferences_document::lampsValue(*lamps));
    const auto reread = glowcast::preferences_document::parse(QJsonDocument(rewritten).toJson());
    if (!reread.document || glowcast::preferences_document::lamps(*reread.document, nullptr) != lamps)
        std::abort();
    return 0;
}
