// SPDX-License-Identifier: MIT
#pragma once

#include "phonerelay.h"

// The phone side while the daemon has no iOS listener: no phone can ever be
// connected, so cached sends print their line and every payload is dropped.
class NoPhoneRelay final : public PhoneRelay
{
public:
    void sendToiOS(const QByteArray &bytes) override;
    void sendCached(const std::optional<QByteArray> &bytes, const QString &label) override;

    // The line a cached send prints, whether or not a phone is connected.
    static QString cachedSendLine(const QString &label, qsizetype byteCount);
};
