// SPDX-License-Identifier: MIT
#pragma once

#include "phonerelay.h"

#include <QList>
#include <QPair>

// Records what the Live link hands to the phone side, in order.
class RecordingPhone final : public PhoneRelay
{
public:
    void sendToiOS(const QByteArray &bytes) override { sent.append(bytes); }
    void sendCached(const std::optional<QByteArray> &bytes, const QString &label) override
    {
        if (!bytes)
            return;
        cached.append({label, *bytes});
        sendToiOS(*bytes);
    }

    QList<QByteArray> sent;                   // every payload that reached the phone
    QList<QPair<QString, QByteArray>> cached; // the cached sends among them, with labels
};
