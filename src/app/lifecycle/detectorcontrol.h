// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The two calls the launch sequence makes on the server detector. Main thread.
class DetectorControl
{
public:
    virtual ~DetectorControl() = default;
    virtual void updateParameters(const QString &host, int port) = 0;
    virtual void startDetection() = 0;
};

// Lets any detector with these two operations stand behind DetectorControl, so the
// life cycle does not depend on the Live link library.
template <typename Detector> class DetectorAdapter final : public DetectorControl
{
public:
    explicit DetectorAdapter(Detector &detector) : m_detector(detector) {}
    void updateParameters(const QString &host, int port) override
    {
        m_detector.updateParameters(host, port);
    }
    void startDetection() override { m_detector.startDetection(); }

private:
    Detector &m_detector;
};
