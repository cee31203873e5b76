// SPDX-License-Identifier: MIT
#include "oscsenderbudget.h"

bool OscSenderBudget::take(const QHostAddress &sender)
{
    const qint64 now = m_clock.elapsed();
    const QString key = sender.toString();
    auto it = m_buckets.find(key);
    if (it == m_buckets.end()) {
        // Spoofed senders must not grow the table for ever; a full bucket is no loss.
        if (m_buckets.size() >= 1024)
            m_buckets.clear();
        it = m_buckets.insert(key, Bucket{m_burst, now});
    }
    Bucket &bucket = *it;
    bucket.tokens =
        std::min(m_burst, bucket.tokens + double(now - bucket.at) * m_perSecond / 1000.0);
    bucket.at = now;
    if (bucket.tokens < 1.0)
        return false;
    bucket.tokens -= 1.0;
    return true;
}
