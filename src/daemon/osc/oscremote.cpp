// SPDX-License-Identifier: MIT
#include "oscremote.h"

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "log.h"
#include "osccommand.h"
#include "oscsettings.h"
#include "serviceadvertiser.h"

#include <QHostInfo>
#include <QSettings>
#include <QSysInfo>

OscRemote::OscRemote(DaemonStateCache &cache, AbletonSocket &live, ServiceAdvertiser &advertiser,
                     QSettings &settings, Options options, QObject *parent)
    : QObject(parent), m_cache(cache), m_live(live), m_advertiser(advertiser), m_settings(settings),
      m_options(options),
      m_server(osccommand::addresses(), [this](const OscMessage &message) { handle(message); }),
      m_feedback([this](const QHostAddress &host, quint16 port, const char *address,
                        const QVariant &value) { m_server.send(host, port, address, value); },
                 options.feedback),
      m_budget(options.commandsPerSecond, options.commandBurst)
{
    qRegisterMetaType<PublisherState>();
    m_show.setLiveUp(live.isConnected());
    connect(&m_live, &AbletonSocket::messageReceived, this, &OscRemote::onLiveMessage);
    connect(&m_live, &AbletonSocket::isConnectedChanged, this, [this](bool up) {
        m_show.setLiveUp(up);
        publish();
    });
}

OscRemote::~OscRemote() = default;

void OscRemote::start()
{
    m_server.setAllowList(OscAllowList(oscsettings::listValue(m_settings, oscsettings::allowKey)));
    listen();
    publish();
    addStaticTargets();
}

void OscRemote::setPort(quint16 port)
{
    if (port == 0)
        return;
    m_settings.setValue(oscsettings::portKey, int(port));
    mlog::out(QStringLiteral("OSC: port set to ") + QString::number(port));
    listen();
}

void OscRemote::listen()
{
    m_advertiser.withdraw();
    const quint16 wanted = oscsettings::wantedPort(m_settings);
    if (!m_server.start(wanted)) {
        emit portStateChanged(PublisherState::portUnavailable(wanted, m_server.lastError()));
        return;
    }
    emit portStateChanged(PublisherState::published(m_server.port()));
    m_advertiser.advertise({QStringLiteral("Marquell"), QStringLiteral("_osc._udp"),
                            m_server.port(), QSysInfo::machineHostName()});
}

void OscRemote::addStaticTargets()
{
    for (const QString &entry : oscsettings::listValue(m_settings, oscsettings::targetsKey)) {
        const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const uint port = colon > 0 ? entry.mid(colon + 1).toUInt(&ok) : 0;
        QString host = entry.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (!ok || port < 1 || port > 65535 || host.isEmpty()) {
            mlog::out(QStringLiteral("OSC: ignoring \"%1\" in oscFeedbackTargets (not host:port)")
                          .arg(entry));
            continue;
        }
        const QHostAddress address(host);
        if (!address.isNull()) {
            m_feedback.addStaticTarget(address, quint16(port));
            continue;
        }
        // A name: looked up off the event loop, added when found.
        QHostInfo::lookupHost(host, this, [this, host, port](const QHostInfo &info) {
            for (const QHostAddress &found : info.addresses()) {
                if (found.protocol() == QAbstractSocket::IPv4Protocol) {
                    m_feedback.addStaticTarget(found, quint16(port));
                    return;
                }
            }
            mlog::out(QStringLiteral("OSC: feedback target %1 not found — %2")
                          .arg(host, info.errorString()));
        });
    }
}

void OscRemote::handle(const OscMessage &message)
{
    const osccommand::Command command = osccommand::parse(message, m_show);
    if (const auto *forLive = std::get_if<osccommand::ForLive>(&command)) {
        if (!m_budget.take(message.sender)) {
            m_server.dropLog().dropped(QStringLiteral("too many commands"), message.sender,
                                       message.senderPort);
            return;
        }
        m_live.send(forLive->bytes);
    } else if (const auto *subscribe = std::get_if<osccommand::Subscribe>(&command)) {
        m_feedback.subscribe(message.sender, subscribe->port);
    } else if (const auto *unsubscribe = std::get_if<osccommand::Unsubscribe>(&command)) {
        m_feedback.unsubscribe(message.sender, unsubscribe->port);
    } else if (const auto *refresh = std::get_if<osccommand::Refresh>(&command)) {
        m_feedback.refresh(message.sender, refresh->port);
    } else if (const auto *rejected = std::get_if<osccommand::Rejected>(&command)) {
        m_server.dropLog().dropped(QString::fromUtf8(message.path) + QStringLiteral(": ") +
                                       rejected->reason,
                                   message.sender, message.senderPort);
    }
}

void OscRemote::onLiveMessage(const QByteArray &payload)
{
    if (m_show.takeLiveMessage(payload))
        publish();
}

void OscRemote::setSongPosition(const std::optional<livelink::SongPosition> &position)
{
    m_show.setSongPosition(position);
    publish();
}

void OscRemote::publish()
{
    m_feedback.publish(m_show.values(m_cache.currentState()));
}
