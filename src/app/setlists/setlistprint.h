// SPDX-License-Identifier: MIT
#pragma once

#include "savedsetlist.h"

#include <QDate>
#include <QLocale>
#include <QPageSize>
#include <QString>

// The stage copy of a setlist as a PDF: big song names to read from two metres, their
// numbers and lengths, the total and the "stop after" marks; the set's name and the
// date in small type. Needs a QGuiApplication (any platform, offscreen will do).
namespace setlistprint {

constexpr double kMinSongPoint = 28.0;
constexpr double kMaxSongPoint = 60.0;

struct Options
{
    QPageSize pageSize;
    QDate date;
    // Names greyed as missing, one flag per entry (the window knows the open set); empty
    // when printing without one.
    QList<bool> missing;
};

// Letter where the locale measures in US units, A4 elsewhere.
QPageSize defaultPageSize(const QLocale &locale = QLocale::system());
// The type size of the song lines for a list of n songs on this page size.
double songPointSize(qsizetype n, const QPageSize &pageSize);
// "47:12", or "1:05:00"; the sum of the lengths that read as times.
QString totalLength(const QList<SetlistEntry> &entries);

// False with error when the file cannot be written.
bool writePdf(const SavedSetlist &setlist, const QString &path, const Options &options,
              QString *error);

} // namespace setlistprint
