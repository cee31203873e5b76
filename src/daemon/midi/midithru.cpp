// SPDX-License-Identifier: MIT
#include "midithru.h"

#include "log.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// One stored ID as a number: an integer, or a numeric text, as an INI file reads back a
// list of several (a one-element list or a single value comes back in other forms).
std::optional<qint64> storedInteger(const QVariant &value)
{
    bool ok = false;
    qint64 number = 0;
    switch (value.typeId()) {
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        // Past 64 signed bits is past 32 too: dropped below, like any ID out of range.
        number = qint64(std::min(value.toULongLong(), quint64(std::numeric_limits<qint64>::max())));
        ok = true;
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
        number = value.toLongLong(&ok);
        break;
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok);
        break;
    default:
        break;
    }
    return ok ? std::optional(number) : std::nullopt;
}

} // namespace

MIDIThru::MIDIThru(MidiBackend &backend, MIDIEmitter &emitter, QSettings &settings, QObject *parent)
    : QObject(parent), m_backend(backend), m_emitter(emitter), m_settings(settings)
{}

void MIDIThru::start()
{
    if (m_ready)
        return;
    if (const int status = m_backend.clientStatus(); status != 0) {
        mlog::system(QStringLiteral("MIDIThru: MIDIClientCreateWithBlock failed (%1)").arg(status));
        return;
    }
    m_backend.setInputHandler(
        [&emitter = m_emitter](qint32, const QByteArray &bytes) { emitter.forward(bytes); });
    connect(&m_backend, &MidiBackend::sourcesChanged, this, &MIDIThru::sync);
    m_ready = true;
    sync();
    mlog::system(
        QStringLiteral("MIDIThru: ready, %1 source(s) selected").arg(selectedSourceIDs().size()));
}

QList<MidiSourceInfo> MIDIThru::presentSources() const
{
    // Our own source is recognised by identity: another device may share the name.
    const std::optional<qint32> own = m_backend.virtualSourceID();
    QList<MidiSourceInfo> present = m_backend.sources();
    present.removeIf([&](const MidiSourceInfo &s) { return s.uniqueID == 0 || s.uniqueID == own; });
    return present;
}

QList<ThruControl::Source> MIDIThru::availableSources() const
{
    QList<Source> sources;
    for (const MidiSourceInfo &s : presentSources())
        sources.append({s.uniqueID, s.name.isEmpty() ? QStringLiteral("Unknown Input") : s.name});
    return sources;
}

QSet<qint32> MIDIThru::selectedSourceIDs() const
{
    const QVariant stored = m_settings.value(QLatin1String(settingsKey));
    QVariantList elements;
    if (stored.typeId() == QMetaType::QVariantList || stored.typeId() == QMetaType::QStringList)
        elements = stored.toList();
    else if (stored.isValid())
        elements = {stored};
    QSet<qint32> ids;
    for (const QVariant &element : std::as_const(elements)) {
        const std::optional<qint64> value = storedInteger(element);
        if (!value)
            return {}; // not a list this program wrote
        if (*value >= std::numeric_limits<qint32>::min() &&
            *value <= std::numeric_limits<qint32>::max())
            ids.insert(qint32(*value));
    }
    return ids;
}

void MIDIThru::toggle(qint32 id)
{
    QSet<qint32> ids = selectedSourceIDs();
    if (!ids.remove(id))
        ids.insert(id);
    QVariantList stored;
    for (const qint32 each : std::as_const(ids))
        stored.append(each);
    m_settings.setValue(QLatin1String(settingsKey), stored);
    m_settings.sync(); // a crash must not lose the user's choice
    sync();
}

void MIDIThru::sync()
{
    if (!m_ready)
        return;
    const QSet<qint32> selected = selectedSourceIDs();
    const QList<MidiSourceInfo> present = presentSources();
    const auto isPresent = [&](qint32 id) {
        return std::any_of(present.cbegin(), present.cend(),
                           [&](const MidiSourceInfo &s) { return s.uniqueID == id; });
    };
    for (auto it = m_connected.begin(); it != m_connected.end();) {
        if (selected.contains(*it) && isPresent(*it)) {
            ++it;
            continue;
        }
        m_backend.disconnectSource(*it);
        it = m_connected.erase(it);
    }
    for (const MidiSourceInfo &s : present) {
        if (!selected.contains(s.uniqueID) || m_connected.contains(s.uniqueID))
            continue;
        if (const int status = m_backend.connectSource(s.uniqueID); status != 0) {
            mlog::system(QStringLiteral("MIDIThru: MIDIPortConnectSource failed for %1 (%2)")
                             .arg(s.uniqueID)
                             .arg(status));
            continue; // the next sync tries again
        }
        m_connected.append(s.uniqueID);
    }
}
