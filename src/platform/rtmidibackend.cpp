// SPDX-License-Identifier: MIT
#include "rtmidibackend.h"

#include "log.h"
#include "midiportid.h"

#include <QSet>

#include <algorithm>

#if defined(__linux__)
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#endif

namespace {

constexpr int pollIntervalMs = 1000;

int statusOf(RtMidiError::Type type)
{
    return -(100 + int(type));
}

void onError(RtMidiError::Type type, const std::string &text, void *userData)
{
    auto *record = static_cast<RtMidiBackend::ErrorRecord *>(userData);
    if (record->live) {
        mlog::system(QStringLiteral("RtMidiBackend: ") + QString::fromStdString(text));
        return;
    }
    // Keep the first failure: later ones are usually its consequences.
    if (record->status == 0) {
        record->status = statusOf(type);
        record->text = text;
    }
}

#if defined(__linux__)
void quietAlsa(const char *, int, const char *, int, const char *, ...) {}
void quietJack(const char *) {}
#endif

// ALSA and JACK print their own errors to standard error (open /dev/snd/seq failed,
// cannot connect to server, ...); ours say the same once, in words a user can act on.
void silenceSystemLibraries()
{
#if defined(__linux__)
    static const bool once = [] {
        snd_lib_error_set_handler(&quietAlsa);
        jack_set_error_function(&quietJack);
        jack_set_info_function(&quietJack);
        return true;
    }();
    Q_UNUSED(once);
#endif
}

QString failureText(RtMidi::Api api)
{
    if (api == RtMidi::UNIX_JACK) {
        const QString server = qEnvironmentVariable("JACK_DEFAULT_SERVER");
        return server.isEmpty() ? QStringLiteral("no JACK server running")
                                : QStringLiteral("no JACK server \"%1\" running").arg(server);
    }
    return QString::fromStdString(RtMidi::getApiDisplayName(api)) +
           QStringLiteral(" could not be opened");
}

// Why an API cannot be used here, found before RtMidi is asked: its constructors print
// to standard error where there is no ALSA sequencer or no JACK server, before an
// error callback can be set. Empty: try it.
QString unusableBecause(RtMidi::Api api, const QString &clientName)
{
#if defined(__linux__)
    if (api == RtMidi::LINUX_ALSA) {
        snd_seq_t *seq = nullptr;
        const int status = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
        if (status < 0)
            return QStringLiteral("no ALSA sequencer (/dev/snd/seq: %1)")
                .arg(QString::fromLocal8Bit(snd_strerror(status)));
        snd_seq_close(seq);
    } else if (api == RtMidi::UNIX_JACK) {
        jack_status_t status{};
        jack_client_t *client =
            jack_client_open(clientName.toUtf8().constData(), JackNoStartServer, &status);
        if (!client)
            return failureText(api);
        jack_client_close(client);
    }
#else
    Q_UNUSED(clientName);
    Q_UNUSED(api);
#endif
    return {};
}

QSet<QPair<qint32, QString>> identities(const QList<MidiSourceInfo> &sources)
{
    QSet<QPair<qint32, QString>> set;
    for (const MidiSourceInfo &s : sources)
        set.insert({s.uniqueID, s.name});
    return set;
}

} // namespace

// One connected source: its own RtMidiIn (declared last, so it is closed before the
// context its callback reads goes away).
struct RtMidiBackend::Input
{
    RtMidiBackend *backend = nullptr;
    qint32 id = 0;
    QString apiName; // the port's name as the API gave it when opened
    ErrorRecord error;
    std::unique_ptr<RtMidiIn> in;

    static void onMessage(double, std::vector<unsigned char> *message, void *userData)
    {
        const auto *input = static_cast<const Input *>(userData);
        if (message->empty() || !input->backend->m_handler)
            return;
        input->backend->m_handler(input->id,
                                  QByteArray(reinterpret_cast<const char *>(message->data()),
                                             qsizetype(message->size())));
    }
};

RtMidiBackend::RtMidiBackend(RtMidi::Api api, const QString &clientName, QObject *parent)
    : MidiBackend(parent), m_clientName(clientName)
{
    std::vector<RtMidi::Api> apis;
    if (api == RtMidi::UNSPECIFIED)
        RtMidi::getCompiledApi(apis);
    else
        apis.push_back(api);
    std::erase(apis, RtMidi::RTMIDI_DUMMY);
    silenceSystemLibraries();

    m_clientStatus = statusOf(RtMidiError::NO_DEVICES_FOUND);
    QStringList why;
    for (const RtMidi::Api candidate : apis) {
        if (const QString reason =
                unusableBecause(candidate, clientName + QStringLiteral(" Probe"));
            !reason.isEmpty()) {
            m_clientStatus = statusOf(RtMidiError::DRIVER_ERROR);
            why.append(reason);
            continue;
        }
        try {
            auto probe = std::make_unique<RtMidiIn>(
                candidate, (clientName + QStringLiteral(" Ports")).toStdString());
            probe->setErrorCallback(&onError, &m_probeError);
            m_probeError.reset();
            // JACK without a server constructs fine and fails here.
            probe->getPortCount();
            if (m_probeError.status != 0) {
                m_clientStatus = m_probeError.status;
                why.append(failureText(candidate));
                continue;
            }
            m_api = candidate;
            m_probe = std::move(probe);
            m_clientStatus = 0;
            break;
        } catch (const RtMidiError &error) {
            m_clientStatus = statusOf(error.getType());
            why.append(failureText(candidate));
        }
    }
    if (!m_probe) {
        if (why.isEmpty())
            why.append(QStringLiteral("no MIDI system is built in"));
        mlog::system(QStringLiteral("MIDI: unavailable, no MIDI system found: ") +
                     why.join(QStringLiteral("; ")));
        return;
    }

    m_sources = enumerate(*m_probe);
    if (m_api == RtMidi::UNIX_JACK)
        m_jack = std::make_unique<JackConnections>(clientName + QStringLiteral(" Watch"));
    m_poll.setInterval(pollIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &RtMidiBackend::refresh);
    m_poll.start();
}

RtMidiBackend::~RtMidiBackend()
{
    m_poll.stop();
    m_inputs.clear();
    QMutexLocker lock(&m_outMutex);
    m_out.reset();
}

QString RtMidiBackend::apiName() const
{
    if (!m_probe)
        return QStringLiteral("none");
    switch (m_api) {
    case RtMidi::LINUX_ALSA:
        return QStringLiteral("ALSA");
    case RtMidi::UNIX_JACK:
        return QStringLiteral("JACK");
    case RtMidi::MACOSX_CORE:
        return QStringLiteral("CoreMIDI");
    default:
        return QString::fromStdString(RtMidi::getApiDisplayName(m_api));
    }
}

QList<MidiSourceInfo> RtMidiBackend::enumerate(RtMidiIn &in, QStringList *apiNames) const
{
    QStringList names;
    const unsigned count = in.getPortCount();
    for (unsigned i = 0; i < count; ++i)
        names.append(QString::fromStdString(in.getPortName(i)));
    if (apiNames)
        *apiNames = names;
    return midiportid::identify(names, m_api == RtMidi::LINUX_ALSA);
}

bool RtMidiBackend::wasReplugged(const Input &input, const QString &apiName) const
{
    // ALSA numbers a replugged device anew; a JACK port that came back under its old
    // name lost the connection made to the old one.
    if (apiName != input.apiName)
        return true;
    return m_jack &&
           m_jack->connectedToClient(apiName, m_clientName + QStringLiteral(" In")) == false;
}

void RtMidiBackend::refresh()
{
    if (!m_probe)
        return;
    m_probeError.reset();
    QStringList apiNames;
    const QList<MidiSourceInfo> fresh = enumerate(*m_probe, &apiNames);
    if (m_probeError.status != 0)
        return; // a failed read says nothing about the devices; try again next time
    const bool changed = identities(fresh) != identities(m_sources);
    m_sources = fresh;
    // Unplugged and plugged back within one poll: the open input hears a port that is
    // gone, so it is opened anew on the one that came back.
    QList<qint32> replugged;
    for (const auto &[id, input] : m_inputs) {
        for (const MidiSourceInfo &s : fresh)
            if (s.uniqueID == id && wasReplugged(*input, apiNames.value(s.index)))
                replugged.append(id);
    }
    for (const qint32 id : std::as_const(replugged)) {
        m_inputs.erase(id);
        if (const int status = connectSource(id); status != 0)
            mlog::system(QStringLiteral("RtMidiBackend: could not open source %1 again after "
                                        "it was plugged back in (%2)")
                             .arg(id)
                             .arg(status));
    }
    if (!changed)
        return;
    // A vanished source's input is closed, so that it is connected anew when it returns.
    std::erase_if(m_inputs, [&](const auto &entry) {
        return std::none_of(fresh.cbegin(), fresh.cend(),
                            [&](const MidiSourceInfo &s) { return s.uniqueID == entry.first; });
    });
    emit sourcesChanged();
}

int RtMidiBackend::connectSource(qint32 uniqueID)
{
    if (!m_probe)
        return m_clientStatus;
    if (m_inputs.contains(uniqueID))
        return 0;
    auto input = std::make_unique<Input>();
    input->backend = this;
    input->id = uniqueID;
    try {
        input->in =
            std::make_unique<RtMidiIn>(m_api, (m_clientName + QStringLiteral(" In")).toStdString());
    } catch (const RtMidiError &error) {
        return statusOf(error.getType());
    }
    input->in->setErrorCallback(&onError, &input->error);
    // The ID is resolved against this object's own fresh list, never a cached index.
    QStringList apiNames;
    const QList<MidiSourceInfo> now = enumerate(*input->in, &apiNames);
    const auto found = std::find_if(
        now.cbegin(), now.cend(), [&](const MidiSourceInfo &s) { return s.uniqueID == uniqueID; });
    if (found == now.cend())
        return noSuchSource;
    input->apiName = apiNames.value(found->index);
    input->in->setCallback(&Input::onMessage, input.get());
    input->in->ignoreTypes(false, false, false); // SysEx, timing and active sensing pass
    input->in->openPort(unsigned(found->index), "in");
    if (input->error.status != 0)
        return input->error.status;
    input->error.live = true;
    m_inputs.emplace(uniqueID, std::move(input));
    return 0;
}

void RtMidiBackend::disconnectSource(qint32 uniqueID)
{
    m_inputs.erase(uniqueID);
}

QList<qint32> RtMidiBackend::connectedSources() const
{
    QList<qint32> ids;
    for (const auto &entry : m_inputs)
        ids.append(entry.first);
    return ids;
}

int RtMidiBackend::openVirtualSource(const QString &name)
{
    if (!m_probe)
        return m_clientStatus;
    QMutexLocker lock(&m_outMutex);
    if (m_out)
        return 0;
    std::unique_ptr<RtMidiOut> out;
    try {
        out = std::make_unique<RtMidiOut>(m_api, m_clientName.toStdString());
    } catch (const RtMidiError &error) {
        return statusOf(error.getType());
    }
    m_outError.reset();
    out->setErrorCallback(&onError, &m_outError);
    const QList<MidiSourceInfo> before = enumerate(*m_probe);
    out->openVirtualPort(name.toStdString());
    if (m_outError.status != 0)
        return m_outError.status;

    // Our port's ID must be the one enumeration lists for it, and only enumeration
    // knows the full name (JACK's "client:port", the client maybe renamed "-01").
    const QList<MidiSourceInfo> after = enumerate(*m_probe);
    qint32 id = midiportid::forName(name);
    for (const MidiSourceInfo &s : after) {
        const bool isNew = std::none_of(before.cbegin(), before.cend(),
                                        [&](const auto &b) { return b.uniqueID == s.uniqueID; });
        if (isNew && s.name.contains(name)) {
            id = s.uniqueID;
            break;
        }
    }
    m_out = std::move(out);
    m_virtualID = id;
    lock.unlock();
    refresh();
    return 0;
}

MidiBackend::SendResult RtMidiBackend::sendOnVirtualSource(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return SendResult::Rejected;
    QMutexLocker lock(&m_outMutex);
    if (!m_out) {
        m_lastStatus.storeRelaxed(statusOf(RtMidiError::INVALID_USE));
        return SendResult::Failed;
    }
    m_outError.reset();
    m_out->sendMessage(reinterpret_cast<const unsigned char *>(bytes.data()), size_t(bytes.size()));
    if (m_outError.status != 0) {
        m_lastStatus.storeRelaxed(m_outError.status);
        return SendResult::Failed;
    }
    return SendResult::Sent;
}

std::unique_ptr<MidiBackend> createMidiBackend(const QString &clientName)
{
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    const QByteArray forced = qgetenv("MARQUELL_MIDI_API");
    if (!forced.isEmpty()) {
        api = RtMidi::getCompiledApiByName(forced.toLower().toStdString());
        if (api == RtMidi::UNSPECIFIED)
            mlog::system(QStringLiteral("MIDI: MARQUELL_MIDI_API=") + QString::fromUtf8(forced) +
                         QStringLiteral(" is not available; choosing automatically"));
    }
    return std::make_unique<RtMidiBackend>(api, clientName);
}
