// SPDX-License-Identifier: MIT
#pragma once

#include "oscfeedback.h"
#include "oscsenderbudget.h"
#include "oscserver.h"
#include "oscshowstate.h"
#include "publisherstate.h"

#include <QObject>

class AbletonSocket;
class DaemonStateCache;
class QSettings;
class ServiceAdvertiser;

// The daemon as an OSC peer: commands from show-control tools go to Live through the
// Ableton socket as the application's own messages, and subscribed tools (and the
// static targets) get the show's state back on every change. Advertised over DNS-SD
// as "_osc._udp". Main thread only, like the cache it reads.
class OscRemote final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        OscFeedback::Limits feedback;
        double commandsPerSecond = 50.0; // per sender, to Live
        double commandBurst = 25.0;
    };

    OscRemote(DaemonStateCache &cache, AbletonSocket &live, ServiceAdvertiser &advertiser,
              QSettings &settings, Options options, QObject *parent = nullptr);
    OscRemote(DaemonStateCache &cache, AbletonSocket &live, ServiceAdvertiser &advertiser,
              QSettings &settings, QObject *parent = nullptr)
        : OscRemote(cache, live, advertiser, settings, Options(), parent)
    {}
    ~OscRemote() override;

    // Reads the settings, listens and advertises.
    void start();
    // Stores a new port (0 is ignored) and listens again on it.
    void setPort(quint16 port);
    quint16 port() const { return m_server.port(); }
    bool usingFallbackPort() const { return m_server.usingFallbackPort(); }

    OscShowState &show() { return m_show; }
    OscFeedback &feedback() { return m_feedback; }

    // The slot for "time left in the song": a song position from wherever the daemon
    // keeps it. Positions that arrive on the Live link reach it by themselves.
    void setSongPosition(const std::optional<livelink::SongPosition> &position);

signals:
    // For the menu's OSC port row, in the phone listener's terms.
    void portStateChanged(const PublisherState &state);

private:
    void listen();
    void handle(const OscMessage &message);
    void addStaticTargets();
    void onLiveMessage(const QByteArray &payload);
    void publish();

    DaemonStateCache &m_cache;
    AbletonSocket &m_live;
    ServiceAdvertiser &m_advertiser;
    QSettings &m_settings;
    Options m_options;
    OscShowState m_show;
    OscServer m_server;
    OscFeedback m_feedback;
    OscSenderBudget m_budget;
};
