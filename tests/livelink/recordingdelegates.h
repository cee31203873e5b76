// SPDX-License-Identifier: MIT
#pragma once

#include "serverdetectordelegate.h"
#include "socketclientdelegate.h"

#include <QString>
#include <QStringList>

// Records what the show window would be told, as the texts it would show or short
// event names, in call order.
class RecordingDetectorDelegate final : public ServerDetectorDelegate
{
public:
    void showServerStatus(const QString &text) override
    {
        events.append(QStringLiteral("status: ") + text);
    }
    void showWaitingForValidation() override
    {
        events.append(QStringLiteral("Waiting for Validation"));
    }
    void showConnected() override { events.append(QStringLiteral("Connected to Live")); }
    void showConnectionFailed(const QString &error) override
    {
        failureErrors.append(error);
        events.append(QStringLiteral("Connection failed. Retrying..."));
    }

    int count(const QString &event) const { return events.count(event); }
    QStringList events;
    QStringList failureErrors;
};

class RecordingClientDelegate final : public SocketClientDelegate
{
public:
    void selectSetlistRow(int index) override
    {
        events.append(QStringLiteral("row %1").arg(index));
    }
    void showCueMode(int mode) override { events.append(QStringLiteral("cue %1").arg(mode)); }
    void showBPM(float bpm) override { events.append(QStringLiteral("bpm %1").arg(double(bpm))); }

    QStringList events;
};
