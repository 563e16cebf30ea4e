// Any bytes as a preferences file: a reading without a crash, and a selection that reads back
// unchanged once it has been written.
#include "adapters/files/file_preferences.h"
#include "core/settings/settings.h"
#include "fuzz_support.h"

#include <QJsonArray>
#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace doc = glowcast::preferences_document;
    using glowcast::fuzz::require;
    glowcast::NullLog log;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const doc::Parsed parsed = doc::parse(bytes);
    require(parsed.document || !parsed.error.isEmpty());
    if (!parsed.document)
        return 0;
    const QJsonObject& in = *parsed.document;
    doc::report(in, log);
    (void)doc::text(in, "username", &log);
    // Every settings key reads as absent, one of the kinds or something else, and a value written back
    // reads the same.
    for (const glowcast::SettingRow& row : glowcast::settingRows()) {
        const glowcast::StoredSetting stored = doc::setting(in, row.key);
        require(!stored.value ||
                (stored.otherKind.empty() &&
                 doc::setting(QJsonObject{{QStringLiteral("key"), doc::settingValue(*stored.value)}}, "key").value ==
                     stored.value));
    }
    // The lamp systems written back over what was stored read the same, and nothing unusable is lost.
    const auto systems = doc::systems(in, &log);
    const QString key = QStringLiteral("systems");
    QJsonObject withSystems = in;
    withSystems.remove(key);
    if (const QJsonValue value = doc::systemsValue(in, systems); !value.isNull())
        withSystems.insert(key, value);
    require(doc::systems(withSystems, nullptr) == systems &&
            (!in.value(key).isArray() || withSystems.value(key).toArray().size() == in.value(key).toArray().size()));
    // The selection written back reads the same.
    if (const auto lamps = doc::lamps(in, &log)) {
        QJsonObject rewritten = in;
        rewritten.insert(QStringLiteral("lamps"), doc::lampsValue(*lamps));
        const auto reread = doc::parse(QJsonDocument(rewritten).toJson());
        require(reread.document && doc::lamps(*reread.document, nullptr) == lamps);
    }
    return 0;
}
