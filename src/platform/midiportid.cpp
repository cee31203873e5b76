// SPDX-License-Identifier: MIT
#include "midiportid.h"

#include <QHash>
#include <QRegularExpression>

namespace midiportid {

namespace {

quint32 fnv1a(const QByteArray &bytes, quint32 hash = 2166136261u)
{
    for (const char c : bytes) {
        hash ^= quint8(c);
        hash *= 16777619u;
    }
    return hash;
}

} // namespace

qint32 forName(const QString &name)
{
    quint32 hash = fnv1a(name.toUtf8());
    // The two reserved values are rare; hashing on deterministically keeps the ID stable.
    while (hash == 0u || hash == 0xFFFFFFFFu)
        hash = fnv1a(QByteArrayLiteral("#"), hash);
    return qint32(hash);
}

QString stableName(const QString &enumeratedName, bool alsaNumbers)
{
    if (!alsaNumbers)
        return enumeratedName;
    static const QRegularExpression numbers(QStringLiteral(" \\d+:\\d+$"));
    QString name = enumeratedName;
    name.remove(numbers);
    return name;
}

QList<MidiSourceInfo> identify(const QStringList &enumeratedNames, bool alsaNumbers)
{
    QList<MidiSourceInfo> sources;
    QHash<QString, int> seen;
    for (int i = 0; i < enumeratedNames.size(); ++i) {
        const QString name = stableName(enumeratedNames[i], alsaNumbers);
        const int n = ++seen[name];
        const QString key = n == 1 ? name : name + QLatin1Char('#') + QString::number(n);
        sources.append({i, name, forName(key)});
    }
    return sources;
}

} // namespace midiportid
