// SPDX-License-Identifier: MIT
#include "dnssdadvertiser.h"

#include "log.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <dns_sd.h>

namespace {

void DNSSD_API registerReply(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType errorCode,
                             const char *name, const char *, const char *, void *context)
{
    static_cast<DnsSdAdvertiser *>(context)->onRegistered(errorCode, QString::fromUtf8(name));
}

QString describe(qint32 errorCode)
{
    return QStringLiteral("DNS-SD error ") + QString::number(errorCode);
}

} // namespace

DnsSdAdvertiser::DnsSdAdvertiser(QObject *parent) : ServiceAdvertiser(parent)
{
    // Avahi's compatibility layer otherwise prints a three-line warning to the
    // performer's terminal at every start; it works the same either way.
    if (qEnvironmentVariableIsEmpty("AVAHI_COMPAT_NOWARN"))
        qputenv("AVAHI_COMPAT_NOWARN", "1");
}

DnsSdAdvertiser::~DnsSdAdvertiser()
{
    release();
}

QString DnsSdAdvertiser::nameForAttempt(const QString &name, int attempt)
{
    return attempt <= 1 ? name : name + QStringLiteral(" (%1)").arg(attempt);
}

void DnsSdAdvertiser::advertise(const Service &service)
{
    release();
    m_service = service;
    m_attempt = 1;
    registerAttempt();
}

void DnsSdAdvertiser::withdraw()
{
    release();
}

void DnsSdAdvertiser::registerAttempt()
{
    // On a taken name Apple's daemon renames by itself and reports the new name in
    // the reply; Avahi's layer refuses at once (and rejects the flag that would stop
    // Apple's renaming), so that refusal is answered here with the next name.
    const QByteArray name = nameForAttempt(m_service.name, m_attempt).toUtf8();
    const QByteArray type = m_service.type.toUtf8();
    const QByteArray hostname = m_service.hostname.toUtf8().left(255 - 9);
    TXTRecordRef txt;
    TXTRecordCreate(&txt, 0, nullptr);
    TXTRecordSetValue(&txt, "hostname", quint8(hostname.size()), hostname.constData());
    DNSServiceRef ref = nullptr;
    const DNSServiceErrorType error =
        DNSServiceRegister(&ref, 0, 0, name.constData(), type.constData(), nullptr, nullptr,
                           qToBigEndian(m_service.port), TXTRecordGetLength(&txt),
                           TXTRecordGetBytesPtr(&txt), registerReply, this);
    TXTRecordDeallocate(&txt);

    if (error == kDNSServiceErr_NameConflict) {
        onRegistered(error, QString::fromUtf8(name));
        return;
    }
    if (error != kDNSServiceErr_NoError) {
        if (!m_reportedUnavailable)
            mlog::system(m_who + QStringLiteral(": DNS-SD is not available (") + describe(error) +
                         QStringLiteral("); serving ") + m_listener +
                         QStringLiteral(" without advertising"));
        m_reportedUnavailable = true;
        emit unavailable(describe(error));
        return;
    }
    m_ref = ref;
    m_notifier = std::make_unique<QSocketNotifier>(DNSServiceRefSockFD(ref), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this,
                     &DnsSdAdvertiser::onReadable);
}

void DnsSdAdvertiser::onReadable()
{
    if (!m_ref)
        return;
    const DNSServiceErrorType error = DNSServiceProcessResult(m_ref);
    if (error != kDNSServiceErr_NoError) {
        mlog::system(m_who + QStringLiteral(": lost the DNS-SD daemon (") + describe(error) +
                     QStringLiteral(")"));
        release();
        emit unavailable(describe(error));
    }
}

void DnsSdAdvertiser::onRegistered(qint32 errorCode, const QString &name)
{
    if (errorCode == kDNSServiceErr_NoError) {
        mlog::system(m_who + QStringLiteral(": advertised as \"") + name + QStringLiteral("\""));
        emit advertised(name);
        return;
    }
    if (errorCode == kDNSServiceErr_NameConflict && m_attempt < kMaxAttempts) {
        mlog::system(m_who + QStringLiteral(": the name \"") + name +
                     QStringLiteral("\" is taken on this network; trying the next"));
        // Not from inside the reply callback: the reference it belongs to goes first.
        QTimer::singleShot(0, this, [this, generation = m_generation] {
            if (generation != m_generation)
                return; // advertised anew or withdrawn meanwhile
            release();
            ++m_attempt;
            registerAttempt();
        });
        return;
    }
    mlog::system(m_who + QStringLiteral(": could not advertise \"") + name +
                 QStringLiteral("\" (") + describe(errorCode) + QStringLiteral(")"));
    emit unavailable(describe(errorCode));
}

void DnsSdAdvertiser::release()
{
    ++m_generation;
    m_notifier.reset();
    if (m_ref)
        DNSServiceRefDeallocate(m_ref);
    m_ref = nullptr;
}
