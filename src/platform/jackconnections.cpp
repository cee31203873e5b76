// SPDX-License-Identifier: MIT
#include "jackconnections.h"

#include <QRegularExpression>

#include <jack/jack.h>

JackConnections::JackConnections(const QString &clientName)
    : m_client(jack_client_open(clientName.toUtf8().constData(), JackNoStartServer, nullptr))
{}

JackConnections::~JackConnections()
{
    if (m_client)
        jack_client_close(static_cast<jack_client_t *>(m_client));
}

std::optional<bool> JackConnections::connectedToClient(const QString &port,
                                                       const QString &clientName) const
{
    auto *client = static_cast<jack_client_t *>(m_client);
    if (!client)
        return std::nullopt;
    const jack_port_t *handle = jack_port_by_name(client, port.toUtf8().constData());
    if (!handle)
        return std::nullopt;
    // A second client of the same name is renamed "name-01" by JACK.
    const QRegularExpression ours(QStringLiteral("^") + QRegularExpression::escape(clientName) +
                                  QStringLiteral("(-\\d+)?:"));
    const char **connections = jack_port_get_all_connections(client, handle);
    bool found = false;
    for (const char **each = connections; each && *each && !found; ++each)
        found = ours.match(QString::fromUtf8(*each)).hasMatch();
    jack_free(connections);
    return found;
}
