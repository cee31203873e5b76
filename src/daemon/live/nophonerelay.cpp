// SPDX-License-Identifier: MIT
#include "nophonerelay.h"

#include "log.h"

void NoPhoneRelay::sendToiOS(const QByteArray &)
{
    // No phone can be connected: dropped, as the iOS socket drops with no client.
}

void NoPhoneRelay::sendCached(const std::optional<QByteArray> &bytes, const QString &label)
{
    if (!bytes)
        return;
    mlog::out(cachedSendLine(label, bytes->size()));
    sendToiOS(*bytes);
}

QString NoPhoneRelay::cachedSendLine(const QString &label, qsizetype byteCount)
{
    return QStringLiteral("Sending ") + QStringLiteral("cached ") + label +
           QStringLiteral(" to iOS (") + QString::number(byteCount) + QStringLiteral(" bytes)");
}
