// SPDX-License-Identifier: MIT
#pragma once

#include "savedsetlist.h"

#include <QByteArray>
#include <QString>

// Setlists as files and clipboard text: plain text (one song name per line; blank lines
// and lines starting with # are ignored) and JSON, which also keeps song ids, lengths
// and "stop after" marks.
namespace setlistexchange {

constexpr qsizetype kMaxBytes = 1024 * 1024;
constexpr int kMaxEntries = 1000;
constexpr int kMaxSongNameBytes = 255; // what one Live link text holds

struct ImportResult
{
    std::optional<SavedSetlist> setlist; // none when the input was refused
    QString error;                       // names the line when one is at fault
};

QByteArray toText(const SavedSetlist &setlist);
QByteArray toJson(const SavedSetlist &setlist);

// Reads either format: JSON when the first character that is not white space is '{'.
// fallbackName names a setlist whose input has no name (a text without a "# " title).
// Nothing of a refused input is kept.
ImportResult parse(const QByteArray &bytes, const QString &fallbackName);

} // namespace setlistexchange
