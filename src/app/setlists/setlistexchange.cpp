// SPDX-License-Identifier: MIT
#include "setlistexchange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace setlistexchange {

namespace {

const QString kFormat = QStringLiteral("marquell-setlist");

ImportResult refuse(const QString &error)
{
    return {std::nullopt, error};
}

int lineOfOffset(const QByteArray &bytes, qsizetype offset)
{
    return int(bytes.left(offset).count('\n')) + 1;
}

// Why a song name cannot be kept, or empty.
QString nameProblem(const QString &name)
{
    if (name.toUtf8().size() > kMaxSongNameBytes)
        return QStringLiteral("a song name longer than %1 bytes").arg(kMaxSongNameBytes);
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("a control character in a song name");
    }
    return {};
}

ImportResult parseText(const QString &text, const QString &fallbackName)
{
    SavedSetlist setlist;
    const QStringList lines = text.split(QChar('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QChar('\r')))
            line.chop(1);
        line = line.trimmed();
        if (line.startsWith(QChar('#'))) {
            // The first "# " comment before any song is the setlist's title, as toText writes it.
            if (setlist.name.isEmpty() && setlist.entries.isEmpty())
                setlist.name = setlistnames::normalized(line.mid(1)).value_or(QString());
            continue;
        }
        if (line.isEmpty())
            continue;
        if (const QString problem = nameProblem(line); !problem.isEmpty())
            return refuse(QStringLiteral("Line %1: %2.").arg(i + 1).arg(problem));
        if (setlist.entries.size() == kMaxEntries)
            return refuse(QStringLiteral("Line %1: more than %2 songs; a setlist holds at most %2.")
                              .arg(i + 1)
                              .arg(kMaxEntries));
        setlist.entries.append({0, line, QString(), false});
    }
    if (setlist.entries.isEmpty())
        return refuse(QStringLiteral("No song names found: every line is blank or a # comment."));
    if (setlist.name.isEmpty())
        setlist.name = fallbackName;
    return {setlist, {}};
}

ImportResult parseJson(const QByteArray &bytes, const QString &fallbackName)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("Line %1: not valid JSON (%2).")
                          .arg(lineOfOffset(bytes, error.offset))
                          .arg(error.errorString()));
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toString() != kFormat)
        return refuse(QStringLiteral("Line 1: not a Marquell setlist (\"format\" is not \"%1\").")
                          .arg(kFormat));
    const QJsonValue entriesValue = root.value(QStringLiteral("entries"));
    if (!entriesValue.isArray())
        return refuse(QStringLiteral("The setlist has no \"entries\" list."));
    const QJsonArray entries = entriesValue.toArray();
    if (entries.size() > kMaxEntries)
        return refuse(QStringLiteral("%1 songs; a setlist holds at most %2.")
                          .arg(entries.size())
                          .arg(kMaxEntries));

    // JSON values carry no line numbers: an entry at fault is found by its name's line.
    const auto lineOfEntry = [&bytes](qsizetype index, const QString &name) {
        const QByteArray quoted = '"' + name.toUtf8() + '"';
        const qsizetype at = bytes.indexOf(quoted);
        return at < 0 ? QStringLiteral("Entry %1").arg(index + 1)
                      : QStringLiteral("Line %1 (entry %2)")
                            .arg(lineOfOffset(bytes, at))
                            .arg(index + 1);
    };
    SavedSetlist setlist;
    setlist.name = setlistnames::normalized(root.value(QStringLiteral("name")).toString())
                       .value_or(fallbackName);
    setlist.setName = root.value(QStringLiteral("setName")).toString().left(200);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject e = entries[i].toObject();
        const QString name = e.value(QStringLiteral("name")).toString().trimmed();
        if (name.isEmpty())
            return refuse(QStringLiteral("Entry %1: no song name.").arg(i + 1));
        if (const QString problem = nameProblem(name); !problem.isEmpty())
            return refuse(QStringLiteral("%1: %2.").arg(lineOfEntry(i, name), problem));
        // Ids are 64-bit: as JSON numbers they would lose digits, so they travel as text.
        bool idOk = true;
        const QJsonValue idValue = e.value(QStringLiteral("id"));
        const quint64 id = idValue.isUndefined() ? 0 : idValue.toString().toULongLong(&idOk);
        if (!idOk)
            return refuse(QStringLiteral("%1: the song id is not a number in quotes.")
                              .arg(lineOfEntry(i, name)));
        const QString length = e.value(QStringLiteral("length")).toString().left(32);
        setlist.entries.append(
            {id, name, length, e.value(QStringLiteral("stopAfter")).toBool(false)});
    }
    if (setlist.entries.isEmpty())
        return refuse(QStringLiteral("The setlist has no songs."));
    return {setlist, {}};
}

} // namespace

QByteArray toText(const SavedSetlist &setlist)
{
    QString out = QStringLiteral("# %1\n").arg(setlist.name);
    for (const SetlistEntry &e : setlist.entries)
        out += e.name + QChar('\n');
    return out.toUtf8();
}

QByteArray toJson(const SavedSetlist &setlist)
{
    QJsonArray entries;
    for (const SetlistEntry &e : setlist.entries) {
        QJsonObject o{{QStringLiteral("name"), e.name}, {QStringLiteral("length"), e.length}};
        if (e.songId != 0)
            o.insert(QStringLiteral("id"), QString::number(e.songId));
        if (e.stopAfter)
            o.insert(QStringLiteral("stopAfter"), true);
        entries.append(o);
    }
    const QJsonObject root{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("version"), 1},
                           {QStringLiteral("name"), setlist.name},
                           {QStringLiteral("setName"), setlist.setName},
                           {QStringLiteral("entries"), entries}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

ImportResult parse(const QByteArray &bytes, const QString &fallbackName)
{
    if (bytes.size() > kMaxBytes)
        return refuse(QStringLiteral("The file is larger than 1 MiB; a setlist is far smaller."));
    // Checked line by line so that the message can name the line with the bad bytes.
    qsizetype start = 0;
    for (int line = 1; start <= bytes.size(); ++line) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = decoder.decode(QByteArrayView(bytes).sliced(start, end - start));
        if (decoder.hasError())
            return refuse(QStringLiteral("Line %1: not UTF-8 text.").arg(line));
        if (decoded.contains(QChar(0)))
            return refuse(
                QStringLiteral("Line %1: a NUL byte; this is not a text file.").arg(line));
        start = end + 1;
    }
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    if (text.trimmed().startsWith(QChar('{')))
        return parseJson(text.toUtf8(), fallbackName);
    return parseText(text, fallbackName);
}

} // namespace setlistexchange
