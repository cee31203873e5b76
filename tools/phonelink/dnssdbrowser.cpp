// SPDX-License-Identifier: MIT
#include "dnssdbrowser.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QtEndian>

#include <dns_sd.h>
#include <poll.h>

namespace {

struct Search
{
    bool done = false;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    QByteArray name, type, domain;
    uint32_t interfaceIndex = 0;
    FoundService found;
};

void DNSSD_API onBrowsed(DNSServiceRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                         DNSServiceErrorType error, const char *name, const char *type,
                         const char *domain, void *context)
{
    auto *search = static_cast<Search *>(context);
    search->error = error;
    if (error == kDNSServiceErr_NoError && !(flags & kDNSServiceFlagsAdd))
        return; // a service going away
    search->done = true;
    search->name = name;
    search->type = type;
    search->domain = domain;
    search->interfaceIndex = interfaceIndex;
}

void DNSSD_API onResolved(DNSServiceRef, DNSServiceFlags, uint32_t, DNSServiceErrorType error,
                          const char *, const char *host, uint16_t port, uint16_t txtLength,
                          const unsigned char *txt, void *context)
{
    auto *search = static_cast<Search *>(context);
    search->done = true;
    search->error = error;
    if (error != kDNSServiceErr_NoError)
        return;
    search->found.host = QString::fromUtf8(host);
    search->found.port = qFromBigEndian(port);
    uint8_t length = 0;
    const void *value = TXTRecordGetValuePtr(txtLength, txt, "hostname", &length);
    if (value)
        search->found.hostname = QString::fromUtf8(static_cast<const char *>(value), length);
}

void DNSSD_API onAddress(DNSServiceRef, DNSServiceFlags, uint32_t, DNSServiceErrorType error,
                         const char *, uint16_t type, uint16_t, uint16_t length, const void *data,
                         uint32_t, void *context)
{
    auto *search = static_cast<Search *>(context);
    search->done = true;
    search->error = error;
    if (error == kDNSServiceErr_NoError && type == kDNSServiceType_A && length == 4)
        search->found.address =
            QHostAddress(qFromBigEndian<quint32>(static_cast<const uchar *>(data))).toString();
}

// Processes replies on ref until the callback says done or time runs out.
bool await(DNSServiceRef ref, Search &search, const QDeadlineTimer &deadline)
{
    search.done = false;
    pollfd fd{DNSServiceRefSockFD(ref), POLLIN, 0};
    while (!search.done && !deadline.hasExpired()) {
        const int ready = poll(&fd, 1, int(qMax<qint64>(1, deadline.remainingTime())));
        if (ready > 0 && DNSServiceProcessResult(ref) != kDNSServiceErr_NoError)
            return false;
    }
    return search.done && search.error == kDNSServiceErr_NoError;
}

} // namespace

std::optional<FoundService> browseFirst(const QString &type, int timeoutMs, QString *error)
{
    const QDeadlineTimer deadline(timeoutMs);
    Search search;
    DNSServiceRef ref = nullptr;
    auto fail = [&](const QString &why) -> std::optional<FoundService> {
        if (ref)
            DNSServiceRefDeallocate(ref);
        *error = why + (search.error ? QStringLiteral(" (DNS-SD error %1)").arg(search.error)
                                     : QString());
        return std::nullopt;
    };

    search.error =
        DNSServiceBrowse(&ref, 0, 0, type.toUtf8().constData(), nullptr, onBrowsed, &search);
    if (search.error != kDNSServiceErr_NoError)
        return fail(QStringLiteral("no DNS-SD daemon answers (is avahi-daemon running?); give "
                                   "HOST:PORT instead of --browse"));
    if (!await(ref, search, deadline))
        return fail(QStringLiteral("no %1 service found").arg(type));
    DNSServiceRefDeallocate(ref);
    ref = nullptr;
    search.found.name = QString::fromUtf8(search.name);

    search.error =
        DNSServiceResolve(&ref, 0, search.interfaceIndex, search.name.constData(),
                          search.type.constData(), search.domain.constData(), onResolved, &search);
    if (search.error != kDNSServiceErr_NoError || !await(ref, search, deadline))
        return fail(QStringLiteral("could not resolve \"%1\"").arg(search.found.name));
    DNSServiceRefDeallocate(ref);
    ref = nullptr;

    // The host's IPv4 address; without one the host name is tried as it is.
    search.found.address = search.found.host;
    const QByteArray host = search.found.host.toUtf8();
    if (DNSServiceQueryRecord(&ref, 0, search.interfaceIndex, host.constData(), kDNSServiceType_A,
                              kDNSServiceClass_IN, onAddress, &search) == kDNSServiceErr_NoError) {
        await(ref, search, deadline);
        DNSServiceRefDeallocate(ref);
    }
    return search.found;
}
