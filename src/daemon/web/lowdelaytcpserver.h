// SPDX-License-Identifier: MIT
#pragma once

#include <QTcpServer>

// A TCP server whose connections send small writes at once: a page's show updates
// are a few dozen bytes, and Nagle's algorithm would hold them back for an ACK.
class LowDelayTcpServer final : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;
};
