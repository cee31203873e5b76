// SPDX-License-Identifier: MIT
#include "setlistprint.h"

#include "songmanager.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace setlistprint {

namespace {

constexpr int kDpi = 300;
constexpr double kMarginMm = 14.0;
constexpr double kHeaderPoint = 10.0;
constexpr double kFooterPoint = 16.0;
constexpr double kLineFactor = 1.45; // line height over type size

double pointsToPixels(double pt)
{
    return pt * kDpi / 72.0;
}

// The height, in points, the song lines have on one page.
double songAreaPoints(const QPageSize &pageSize)
{
    const double page = pageSize.size(QPageSize::Point).height();
    const double margins = 2.0 * kMarginMm * 72.0 / 25.4;
    return page - margins - kHeaderPoint * 3.0 - kFooterPoint * 2.5;
}

QString formatSeconds(qint64 s)
{
    if (s >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
    return QString::asprintf("%lld:%02lld", s / 60, s % 60);
}

QFont font(double pt, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(pt);
    f.setBold(bold);
    return f;
}

} // namespace

QPageSize defaultPageSize(const QLocale &locale)
{
    return QPageSize(locale.measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                             : QPageSize::A4);
}

double songPointSize(qsizetype n, const QPageSize &pageSize)
{
    // Fewer songs get larger lines; a long list stays at the minimum and takes pages.
    const double fit = songAreaPoints(pageSize) / (double(std::max<qsizetype>(n, 1)) * kLineFactor);
    return std::clamp(std::floor(fit), kMinSongPoint, kMaxSongPoint);
}

QString totalLength(const QList<SetlistEntry> &entries)
{
    double total = 0.0;
    for (const SetlistEntry &e : entries)
        total += SongManager::parseSongLength(e.length).value_or(0.0);
    return formatSeconds(qint64(total));
}

bool writePdf(const SavedSetlist &setlist, const QString &path, const Options &options,
              QString *error)
{
    {
        // QPdfWriter reports nothing when it cannot write; find out first.
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly)) {
            if (error)
                *error = QStringLiteral("cannot write %1: %2").arg(path, probe.errorString());
            return false;
        }
    }
    QPdfWriter writer(path);
    writer.setResolution(kDpi);
    writer.setPageSize(options.pageSize);
    writer.setPageMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                          QPageLayout::Millimeter);
    writer.setTitle(setlist.name);
    writer.setCreator(QStringLiteral("Marquell"));

    QPainter p;
    if (!p.begin(&writer)) {
        if (error)
            *error = QStringLiteral("cannot start a PDF in %1").arg(path);
        return false;
    }
    const QRectF area(QPointF(0, 0), QSizeF(writer.width(), writer.height()));
    const qsizetype n = setlist.entries.size();
    // The largest type the page height allows that also fits the longest name across;
    // at the minimum a name that is still too long is cut short.
    double songPt = songPointSize(n, options.pageSize);
    QFont nameFont, numberFont, lengthFont, markFont;
    double numberW = 0, lengthW = 0, markW = 0, nameW = 0;
    for (;; songPt -= 1.0) {
        nameFont = font(songPt, true);
        numberFont = font(songPt * 0.6, false);
        lengthFont = font(songPt * 0.6, false);
        markFont = font(songPt * 0.45, true);
        const QFontMetricsF names(nameFont, &writer), lengths(lengthFont, &writer);
        numberW = QFontMetricsF(numberFont, &writer).horizontalAdvance(QString::number(n)) +
                  pointsToPixels(songPt * 0.5);
        markW = QFontMetricsF(markFont, &writer).horizontalAdvance(QStringLiteral("STOP")) +
                pointsToPixels(songPt * 0.4);
        lengthW = 0;
        double longest = 0;
        for (const SetlistEntry &e : setlist.entries) {
            lengthW = std::max(lengthW, lengths.horizontalAdvance(e.length));
            longest =
                std::max(longest, names.horizontalAdvance(e.name) + (e.stopAfter ? markW : 0));
        }
        nameW = area.width() - numberW - lengthW - pointsToPixels(songPt * 0.5);
        if (longest <= nameW || songPt <= kMinSongPoint)
            break;
    }
    const double lineH = pointsToPixels(songPt * kLineFactor);
    const double headerH = pointsToPixels(kHeaderPoint * 3.0);
    const double footerH = pointsToPixels(kFooterPoint * 2.5);
    const qsizetype perPage =
        std::max<qsizetype>(1, qsizetype((area.height() - headerH - footerH) / lineH));
    const qsizetype pages = std::max<qsizetype>(1, (n + perPage - 1) / perPage);
    const QFontMetricsF nameMetrics(nameFont, &writer);
    const QString date = QLocale().toString(options.date, QLocale::ShortFormat);

    for (qsizetype page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        // Header: small, for whoever picks the sheet up, not for the stage.
        p.setPen(QColor(0x55, 0x55, 0x55));
        p.setFont(font(kHeaderPoint, false));
        const QRectF header(area.left(), area.top(), area.width(),
                            pointsToPixels(kHeaderPoint * 1.6));
        QString left = setlist.name;
        if (!setlist.setName.isEmpty())
            left += QStringLiteral("  ·  ") + setlist.setName;
        p.drawText(header, Qt::AlignLeft | Qt::AlignVCenter, left);
        QString right = date;
        if (pages > 1)
            right += QStringLiteral("  ·  page %1 of %2").arg(page + 1).arg(pages);
        p.drawText(header, Qt::AlignRight | Qt::AlignVCenter, right);

        double y = area.top() + headerH;
        for (qsizetype i = page * perPage; i < std::min(n, (page + 1) * perPage); ++i) {
            const SetlistEntry &e = setlist.entries[i];
            const bool missing = i < options.missing.size() && options.missing[i];
            const QRectF line(area.left(), y, area.width(), lineH);
            p.setPen(QColor(0x77, 0x77, 0x77));
            p.setFont(numberFont);
            p.drawText(
                QRectF(line.left(), line.top(), numberW - pointsToPixels(songPt * 0.3), lineH),
                Qt::AlignRight | Qt::AlignVCenter, QString::number(i + 1));
            p.setFont(lengthFont);
            p.drawText(line, Qt::AlignRight | Qt::AlignVCenter, e.length);
            const double nameLeft = line.left() + numberW;
            double nameRight = nameLeft + nameW;
            if (e.stopAfter) {
                p.setPen(QColor(0xc0, 0x10, 0x10));
                p.setFont(markFont);
                nameRight -= markW;
                p.drawText(QRectF(nameRight, line.top(), markW, lineH),
                           Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("STOP"));
                // A rule under the song makes the stop visible from afar too.
                p.fillRect(QRectF(nameLeft, line.bottom() - pointsToPixels(3),
                                  area.right() - nameLeft, pointsToPixels(2.5)),
                           QColor(0xc0, 0x10, 0x10));
            }
            p.setPen(missing ? QColor(0xaa, 0xaa, 0xaa) : QColor(Qt::black));
            p.setFont(nameFont);
            p.drawText(QRectF(nameLeft, line.top(), nameRight - nameLeft, lineH),
                       Qt::AlignLeft | Qt::AlignVCenter,
                       nameMetrics.elidedText(e.name, Qt::ElideRight, nameRight - nameLeft));
            y += lineH;
        }
        if (page == pages - 1) {
            p.setPen(Qt::black);
            p.setFont(font(kFooterPoint, true));
            const QRectF footer(area.left(), area.bottom() - footerH, area.width(), footerH);
            p.drawText(
                footer, Qt::AlignRight | Qt::AlignBottom,
                QStringLiteral("%1 songs  ·  total %2").arg(n).arg(totalLength(setlist.entries)));
        }
    }
    p.end();
    return true;
}

} // namespace setlistprint
