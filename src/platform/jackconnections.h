// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// Reads JACK's connections through a client of its own (no ports, never activated), so
// that a port which went away and came back under the same name between two polls is
// told apart from one that never left: the connection made to the old one is gone.
// Main thread only.
class JackConnections final
{
public:
    explicit JackConnections(const QString &clientName);
    ~JackConnections();
    JackConnections(const JackConnections &) = delete;
    JackConnections &operator=(const JackConnections &) = delete;

    // Whether the port is connected to a port of a client whose name is clientName or
    // clientName with JACK's "-NN" suffix; nullopt when JACK cannot tell.
    std::optional<bool> connectedToClient(const QString &port, const QString &clientName) const;

private:
    void *m_client = nullptr; // jack_client_t
};
