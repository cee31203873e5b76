// SPDX-License-Identifier: MIT
#include "songmanager.h"

#include "livelinksender.h"
#include "log.h"

#include <QCollator>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A decimal integer with an optional sign and nothing else; anything else is 0.
qint64 pieceValue(QStringView piece)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < piece.size() && (piece[i] == u'+' || piece[i] == u'-')) {
        negative = piece[i] == u'-';
        ++i;
    }
    if (i == piece.size())
        return 0;
    qint64 value = 0;
    for (; i < piece.size(); ++i) {
        const char16_t c = piece[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        if (value > (std::numeric_limits<qint64>::max() - (c - u'0')) / 10)
            return 0; // overflow reads as "not a number"
        value = value * 10 + (c - u'0');
    }
    return negative ? -value : value;
}

double lengthOrZero(const Song &song)
{
    return SongManager::parseSongLength(song.length).value_or(0.0);
}

} // namespace

SongManager::SongManager(LiveLinkSender &sender, QObject *parent)
    : QObject(parent), m_sender(sender)
{}

void SongManager::replaceSongPool(const QList<Song> &songs)
{
    mlog::out(QStringLiteral("Refreshing song pool with %1 songs.").arg(songs.size()));
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_songPoolData = songs;
    std::stable_sort(
        m_songPoolData.begin(), m_songPoolData.end(),
        [&collator](const Song &a, const Song &b) { return collator.compare(a.name, b.name) < 0; });
    m_filteredPoolData = m_songPoolData;
}

void SongManager::replaceSetlist(const std::optional<QList<Song>> &songs)
{
    if (songs) {
        m_setListData = *songs;
        m_setLength = 0.0;
        QStringList names;
        for (const Song &song : m_setListData) {
            m_setLength += lengthOrZero(song);
            names.append(song.name);
        }
        mlog::out(QStringLiteral("Setlist updated (%1 songs, %2): %3")
                      .arg(m_setListData.size())
                      .arg(formatSetTime(m_setLength), names.join(QStringLiteral(", "))));
    } else {
        m_setListData.clear();
        m_setLength = 0.0;
    }
    emit songPoolDidUpdate();
}

void SongManager::addToSetlist(const Song &song, std::optional<int> index)
{
    if (index && *index >= 0 && *index <= m_setListData.size())
        m_setListData.insert(*index, song);
    else
        m_setListData.append(song);

    m_sender.sendSetlist(m_setListData);
    if (m_setListData.size() == 1)
        m_sender.sendSelectSetlistIndex(0);

    if (const std::optional<double> seconds = parseSongLength(song.length))
        m_setLength += *seconds;
    else
        warnUnparsedLength(song);
}

bool SongManager::removeFromSetlist(const Song &song, int index)
{
    if (index < 0 || index >= m_setListData.size()) {
        mlog::out(QStringLiteral("Ignoring removal at setlist position %1 of %2.")
                      .arg(index)
                      .arg(m_setListData.size()));
        return false;
    }
    const bool removed = m_setListData.at(index) == song;
    if (removed)
        m_setListData.removeAt(index);

    m_sender.sendSetlist(m_setListData);

    const std::optional<double> seconds = parseSongLength(song.length);
    if (!seconds)
        warnUnparsedLength(song);
    else if (removed) // nothing removed, nothing to take off the set time
        m_setLength -= *seconds;
    return removed;
}

void SongManager::syncSetlistNames()
{
    for (Song &entry : m_setListData) {
        const auto match = std::find_if(m_songPoolData.cbegin(), m_songPoolData.cend(),
                                        [&entry](const Song &s) { return s.id == entry.id; });
        if (match != m_songPoolData.cend())
            entry.name = match->name;
    }
}

QString SongManager::remainingSetTimeString() const
{
    double total = m_setLength;
    if (m_selectedSetlistIndex >= 0 && m_selectedSetlistIndex < m_setListData.size()) {
        total = 0.0;
        for (qsizetype i = m_selectedSetlistIndex; i < m_setListData.size(); ++i)
            total += lengthOrZero(m_setListData.at(i));
    }
    return formatSetTime(total);
}

QString SongManager::formatSetTime(double seconds)
{
    // A negative or absurd total (only reachable through direct setlist writes) reads
    // as nothing left rather than as garbage; huge totals are clamped.
    constexpr double maxSeconds = 359999.0; // 99:59:59
    if (!(seconds > 0.0))
        seconds = 0.0;
    const qint64 s = static_cast<qint64>(std::trunc(std::min(seconds, maxSeconds)));
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
}

std::optional<double> SongManager::parseSongLength(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (pieces.size() == 2)
        return double(pieceValue(pieces[0])) * 60.0 + double(pieceValue(pieces[1]));
    if (pieces.size() == 3)
        return double(pieceValue(pieces[0])) * 3600.0 + double(pieceValue(pieces[1])) * 60.0 +
               double(pieceValue(pieces[2]));
    return std::nullopt;
}

void SongManager::warnUnparsedLength(const Song &song) const
{
    mlog::out(QStringLiteral("Warning: Song length is nil for song ") + song.name +
              QLatin1Char('.'));
}
