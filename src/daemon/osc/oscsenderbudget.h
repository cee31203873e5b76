// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>

// How many commands one sender may pass to Live: a token bucket per address, so a
// flooding or looping desk cannot bury the Live link while a button at a human pace
// (or a burst of them) always goes through.
class OscSenderBudget final
{
public:
    OscSenderBudget(double perSecond = 50.0, double burst = 25.0)
        : m_perSecond(perSecond), m_burst(burst)
    {
        m_clock.start();
    }

    // False when this sender has used up its budget for now.
    bool take(const QHostAddress &sender);

private:
    struct Bucket
    {
        double tokens = 0.0;
        qint64 at = 0; // ms on m_clock
    };

    double m_perSecond;
    double m_burst;
    QElapsedTimer m_clock;
    QHash<QString, Bucket> m_buckets;
};
