// SPDX-License-Identifier: MIT
#include "savedsetlist.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <algorithm>

namespace setlistnames {

std::optional<QString> normalized(const QString &name)
{
    QString out = name.simplified();
    if (out.size() > kMaxNameLength)
        out = out.left(kMaxNameLength).trimmed();
    if (out.isEmpty())
        return std::nullopt;
    return out;
}

QString unique(const QString &wanted, const QStringList &taken)
{
    const auto isTaken = [&taken](const QString &name) {
        return taken.contains(name, Qt::CaseInsensitive);
    };
    if (!isTaken(wanted))
        return wanted;
    // "Festival (2)" duplicated again becomes "Festival (3)", not "Festival (2) (2)".
    static const QRegularExpression suffix(QStringLiteral("^(.*) \\((\\d+)\\)$"));
    QString base = wanted;
    if (const QRegularExpressionMatch m = suffix.match(wanted); m.hasMatch())
        base = m.captured(1);
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)").arg(base).arg(n);
        if (!isTaken(candidate))
            return candidate;
    }
}

} // namespace setlistnames

OpenSetIdentity OpenSetIdentity::fromPool(const QList<Song> &pool)
{
    if (pool.isEmpty())
        return {};
    QStringList names;
    for (const Song &song : pool)
        names.append(song.name.toCaseFolded().simplified());
    std::sort(names.begin(), names.end());
    const QByteArray digest =
        QCryptographicHash::hash(names.join(QChar('\n')).toUtf8(), QCryptographicHash::Sha1);
    OpenSetIdentity identity;
    identity.key = QString::fromLatin1(digest.toHex().left(16));
    identity.label = pool.size() == 1 ? pool.constFirst().name
                                      : QStringLiteral("%1 … %2, %3 songs")
                                            .arg(pool.constFirst().name, pool.constLast().name)
                                            .arg(pool.size());
    return identity;
}
