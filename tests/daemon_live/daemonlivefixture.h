// SPDX-License-Identifier: MIT
#pragma once

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "livebytes.h"
#include "log.h"
#include "phonerelay.h"
#include "scriptedliveserver.h"

#include <QSignalSpy>
#include <QtTest>

using namespace livebytes;
using namespace std::chrono_literals;

const QByteArray kClientReply = daemonReply();

// Records what the Live link hands to the phone side, in order.
class RecordingPhone final : public PhoneRelay
{
public:
    void sendToiOS(const QByteArray &bytes) override { sent.append(bytes); }
    void sendCached(const std::optional<QByteArray> &bytes, const QString &) override
    {
        if (bytes)
            sendToiOS(*bytes);
    }

    QList<QByteArray> sent; // every payload that reached the phone
};

// The daemon's Live side with fast timers, and a scripted Live server.
struct Rig
{
    explicit Rig(AbletonSocket::Timing timing = {50ms, 100ms})
        : cache(phone), socket(cache, phone, timing)
    {}

    RecordingPhone phone;
    DaemonStateCache cache;
    AbletonSocket socket;
    ScriptedLiveServer server;
    QSignalSpy states{&socket, &AbletonSocket::connectionStateChanged};
    QSignalSpy connected{&socket, &AbletonSocket::isConnectedChanged};

    QList<ConnectionState> allStates() const
    {
        QList<ConnectionState> out;
        for (const QList<QVariant> &args : states)
            out.append(args.at(0).value<ConnectionState>());
        return out;
    }
    ConnectionState lastState() const
    {
        return allStates().value(states.size() - 1, ConnectionState::failed("none"));
    }

    // Answers the handshake of the newest connection and forgets its traces.
    bool answer()
    {
        if (!QTest::qWaitFor([&] { return server.hasClient(); }))
            return false;
        server.writeIdentity();
        if (!QTest::qWaitFor([&] { return server.received() == kClientReply; }))
            return false;
        server.takeReceived();
        states.clear();
        connected.clear();
        return socket.serverValidated();
    }
    bool validate()
    {
        socket.connectToLive(server.port());
        return answer();
    }

    // Frames are handled in order, so once a notice (reaching the phone as [02]) has
    // arrived everything written before it has been handled.
    bool settle()
    {
        server.writeFrame(bytes({2}));
        if (!QTest::qWaitFor([&] { return phone.sent.value(phone.sent.size() - 1) == "\x02"; }))
            return false;
        phone.sent.removeLast();
        return true;
    }
};
