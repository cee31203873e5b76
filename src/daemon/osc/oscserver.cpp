// SPDX-License-Identifier: MIT
#include "oscserver.h"

#include "log.h"

#include <QSocketNotifier>

#include <lo/lo.h>

#include <cerrno>
#include <sys/socket.h>

namespace {

// Packets read per readable signal; the rest wait for the next turn of the loop.
constexpr int kPacketsPerTurn = 64;

// liblo's error callback has no context pointer: it reports into the thread's last
// error, read right after the call that failed. The event loop is one thread.
thread_local QString t_loError;

void onLoError(int number, const char *message, const char *where)
{
    t_loError = QString::fromUtf8(message ? message : "error") + QStringLiteral(" (") +
                QString::number(number) +
                (where ? QStringLiteral(", ") + QString::fromUtf8(where) : QString()) +
                QLatin1Char(')');
}

QVariant toVariant(char type, const lo_arg *arg)
{
    switch (type) {
    case LO_INT32:
        return arg->i;
    case LO_INT64:
        return qint64(arg->h);
    case LO_FLOAT:
        return double(arg->f);
    case LO_DOUBLE:
        return arg->d;
    case LO_STRING:
    case LO_SYMBOL:
        return QString::fromUtf8(&arg->s);
    case LO_TRUE:
        return true;
    case LO_FALSE:
        return false;
    default:
        return {};
    }
}

template <bool Known>
int dispatch(const char *path, const char *types, lo_arg **argv, int argc, lo_message, void *self)
{
    QVariantList args;
    args.reserve(argc);
    for (int i = 0; i < argc; ++i)
        args.append(toVariant(types[i], argv[i]));
    static_cast<OscServer *>(self)->onMessage(path, types, std::move(args), Known);
    // Handled: liblo neither tries further methods nor answers a path ending in "/".
    return 0;
}

} // namespace

OscServer::OscServer(QByteArrayList addresses, Handler handler, QObject *parent)
    : QObject(parent), m_addresses(std::move(addresses)), m_handler(std::move(handler))
{}

OscServer::~OscServer()
{
    stop();
}

lo_server OscServer::open(quint16 port)
{
    t_loError.clear();
    const QByteArray service = QByteArray::number(port);
    // No port: liblo asks the system for a free one.
    lo_server server =
        lo_server_new_with_proto(port ? service.constData() : nullptr, LO_UDP, onLoError);
    if (!server) {
        m_lastError = t_loError.isEmpty() ? QStringLiteral("cannot bind") : t_loError;
        return nullptr;
    }
    // Bundles with a time tag in the future run at once: a queue that waits for
    // them would be unbounded memory for any sender.
    lo_server_enable_queue(server, 0, 1);
    for (const QByteArray &address : m_addresses)
        lo_server_add_method(server, address.constData(), nullptr, dispatch<true>, this);
    lo_server_add_method(server, nullptr, nullptr, dispatch<false>, this);
    return server;
}

bool OscServer::start(quint16 wantedPort)
{
    stop();
    m_usingFallbackPort = false;
    m_server = open(wantedPort);
    if (!m_server) {
        mlog::out(
            QStringLiteral("OSC: port %1 unavailable, falling back to an OS-assigned port — %2")
                .arg(wantedPort)
                .arg(m_lastError));
        m_usingFallbackPort = true;
        m_server = open(0);
        if (!m_server) {
            mlog::out(QStringLiteral("OSC: could not bind any port — ") + m_lastError);
            return false;
        }
    }
    m_port = quint16(lo_server_get_port(m_server));
    m_notifier =
        std::make_unique<QSocketNotifier>(lo_server_get_socket_fd(m_server), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &OscServer::onReadable);
    mlog::out(QStringLiteral("🎛 OSC listening on UDP port %1").arg(m_port));
    return true;
}

void OscServer::stop()
{
    m_notifier.reset();
    if (m_server)
        lo_server_free(m_server);
    m_server = nullptr;
    m_port = 0;
}

void OscServer::onReadable()
{
    const int fd = lo_server_get_socket_fd(m_server);
    // Read here, parsed by liblo: one system call per packet, and the sender known
    // before anything of the packet is looked at.
    m_buffer.resize(64 * 1024);
    for (int i = 0; i < kPacketsPerTurn && m_server; ++i) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t size = ::recvfrom(fd, m_buffer.data(), size_t(m_buffer.size()), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (size < 0)
            return; // nothing more (or an error the next read reports again)
        const QHostAddress sender(reinterpret_cast<const sockaddr *>(&from));
        bool isIpv4 = false;
        const quint32 ipv4 = sender.toIPv4Address(&isIpv4);
        m_sender = isIpv4 ? QHostAddress(ipv4) : sender;
        m_senderPort = quint16(from.ss_family == AF_INET6
                                   ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&from)->sin6_port)
                                   : ntohs(reinterpret_cast<const sockaddr_in *>(&from)->sin_port));
        if (!m_allow.allows(m_sender)) {
            m_dropLog.refused(m_sender);
            continue;
        }
        m_matched = false;
        t_loError.clear();
        if (size == 0 || lo_server_dispatch_data(m_server, m_buffer.data(), size_t(size)) < 0)
            m_dropLog.dropped(QStringLiteral("malformed packet: ") +
                                  (t_loError.isEmpty() ? QStringLiteral("empty") : t_loError),
                              m_sender, m_senderPort);
    }
}

void OscServer::onMessage(const char *path, const char *types, QVariantList args, bool known)
{
    if (!known) {
        // liblo offers every message to the catch-all last; a pattern that some
        // registered address matched was handled there already.
        if (!m_matched)
            m_dropLog.dropped(QStringLiteral("unknown address ") +
                                  QString::fromUtf8(path).left(100),
                              m_sender, m_senderPort);
        m_matched = false;
        return;
    }
    m_matched = true;
    m_handler(OscMessage{path, types, std::move(args), m_sender, m_senderPort});
}

void OscServer::send(const QHostAddress &host, quint16 port, const char *address,
                     const QVariant &value)
{
    if (!m_server)
        return;
    lo_message message = lo_message_new();
    switch (value.typeId()) {
    case QMetaType::Int:
        lo_message_add_int32(message, value.toInt());
        break;
    case QMetaType::Double:
        lo_message_add_float(message, float(value.toDouble()));
        break;
    default:
        lo_message_add_string(message, value.toString().toUtf8().constData());
        break;
    }
    const QByteArray service = QByteArray::number(port);
    lo_address target = lo_address_new(host.toString().toUtf8().constData(), service.constData());
    lo_send_message_from(target, m_server, address, message);
    lo_address_free(target);
    lo_message_free(message);
}
