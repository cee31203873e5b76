// SPDX-License-Identifier: MIT
// marquell-phonelink: a phone on the command line. Finds the daemon by DNS-SD (or
// takes host:port), prints every frame it sends, and sends commands given as
// arguments or typed one per line. A refused command makes the exit status 1; a
// refused argument ends the run at once, since the rest of a script depends on it.
//
//   marquell-phonelink --browse play "select 2"
//   marquell-phonelink --seconds 10 192.168.1.20:51515 "midi 90 3c 64"
#include "dnssdbrowser.h"
#include "phoneframes.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <unistd.h>

namespace {

void print(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

// A reason the run ends, on standard error as one line.
int fail(const QString &why, int status)
{
    std::fputs(qPrintable(QCoreApplication::applicationName() + QStringLiteral(": ") + why + u'\n'),
               stderr);
    return status;
}

class PhoneLink final : public QObject
{
public:
    explicit PhoneLink(QStringList commands)
        : m_commands(std::move(commands)), m_arguments(m_commands.size())
    {
        QObject::connect(&m_socket, &QTcpSocket::connected, this, [this] {
            print(QStringLiteral("connected to %1:%2")
                      .arg(m_socket.peerName())
                      .arg(m_socket.peerPort()));
            // Let the cached state arrive first, then send one command at a time.
            QTimer::singleShot(300, this, [this] {
                m_ready = true;
                sendNextArgument();
            });
        });
        QObject::connect(&m_socket, &QTcpSocket::readyRead, this, &PhoneLink::onReadable);
        QObject::connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
            print(QStringLiteral("! connection: ") + m_socket.errorString());
            QCoreApplication::exit(2);
        });
    }

    void connectTo(const QString &host, quint16 port) { m_socket.connectToHost(host, port); }

    // Typed or piped commands wait behind the arguments (a setlist needs the pool first).
    void enqueue(const QString &command)
    {
        m_commands.append(command);
        if (m_ready && !m_sending)
            sendNextArgument();
    }
    // The input ended: hang up as soon as the last command is written, as a phone that
    // sends its edit and goes to the background does.
    void hangUpWhenSent()
    {
        m_hangUp = true;
        if (m_ready && !m_sending)
            sendNextArgument();
    }

    // False when the command was refused; the exit status then says so.
    bool send(const QString &command)
    {
        const auto bytes = phoneframes::encodeCommand(command, m_pool);
        if (const QString *why = std::get_if<QString>(&bytes)) {
            print(QStringLiteral("! ") + *why);
            m_refused = true;
            return false;
        }
        const QByteArray &out = std::get<QByteArray>(bytes);
        m_socket.write(out);
        m_socket.flush();
        print(QStringLiteral("> %1 (%2)")
                  .arg(command.simplified(), QString::fromLatin1(out.toHex(' '))));
        return true;
    }

    bool refused() const { return m_refused; }

private:
    void sendNextArgument()
    {
        m_sending = !m_commands.isEmpty();
        // A refused argument ends the run; a typed one only sets the exit status.
        const bool argument = m_arguments > 0;
        m_arguments -= argument ? 1 : 0;
        if (m_sending && !send(m_commands.takeFirst()) && argument) {
            QCoreApplication::exit(1);
            return;
        }
        if (m_commands.isEmpty() && m_hangUp) {
            QObject::disconnect(&m_socket, &QTcpSocket::errorOccurred, this, nullptr);
            QObject::connect(&m_socket, &QTcpSocket::disconnected, qApp, &QCoreApplication::quit,
                             Qt::QueuedConnection);
            m_socket.disconnectFromHost(); // writes what is buffered first
            return;
        }
        if (m_sending)
            QTimer::singleShot(200, this, &PhoneLink::sendNextArgument);
    }

    void onReadable()
    {
        m_buffer += m_socket.readAll();
        while (m_buffer.size() >= 4) {
            const quint32 length = qFromBigEndian<quint32>(m_buffer.constData());
            if (m_buffer.size() - 4 < qsizetype(length))
                return;
            const QByteArray payload = m_buffer.sliced(4, length);
            m_buffer.remove(0, 4 + qsizetype(length));
            if (!payload.isEmpty() && payload[0] == 3)
                m_pool = phoneframes::songPool(payload);
            print(QStringLiteral("< ") +
                  phoneframes::describe(payload).replace(u'\n', QStringLiteral("\n  ")));
        }
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
    QStringList m_commands;
    qsizetype m_arguments;  // how many of the first commands came as arguments
    bool m_ready = false;   // the cached state had its moment to arrive
    bool m_sending = false; // a command went out less than 200 ms ago
    bool m_hangUp = false;
    QList<Song> m_pool; // from the last song pool frame: what "setlist" picks from
    bool m_refused = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("marquell-phonelink"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELL_VERSION));
    // Avahi's compatibility layer would print three lines of warning before ours.
    if (qEnvironmentVariableIsEmpty("AVAHI_COMPAT_NOWARN"))
        qputenv("AVAHI_COMPAT_NOWARN", "1");
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "A phone on the command line: prints the daemon's frames, sends commands.\n"
        "Commands: play, stop, previous, next, select N, cue N, playsong ID, setlist ID...,\n"
        "midi S D1 D2, raw HEX... (ids and MIDI bytes in hexadecimal)."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption browse(QStringLiteral("browse"),
                                    QStringLiteral("Find the daemon by DNS-SD (_marquell._tcp)."));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Quit after N seconds."), QStringLiteral("N"));
    options.addOptions({browse, seconds});
    options.addPositionalArgument(QStringLiteral("target"),
                                  QStringLiteral("HOST:PORT, without --browse"));
    options.addPositionalArgument(QStringLiteral("commands"), QStringLiteral("Commands to send"));
    options.process(app);

    QStringList args = options.positionalArguments();
    QString host;
    quint16 port = 0;
    if (options.isSet(browse)) {
        QString error;
        const std::optional<FoundService> found =
            browseFirst(QStringLiteral("_marquell._tcp"), 5000, &error);
        if (!found)
            return fail(error, 2);
        print(QStringLiteral("found \"%1\" (hostname %2) at %3:%4")
                  .arg(found->name, found->hostname, found->address)
                  .arg(found->port));
        host = found->address;
        port = found->port;
    } else {
        const QString target = args.isEmpty() ? QString() : args.takeFirst();
        const qsizetype colon = target.lastIndexOf(u':');
        port = colon > 0 ? quint16(target.mid(colon + 1).toUInt()) : 0;
        host = target.left(colon);
        if (port == 0)
            options.showHelp(1);
    }

    PhoneLink link(args);
    link.connectTo(host, port);

    // Typed commands, one per line; without --seconds, the end of input quits.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &link, [&] {
        char line[1024];
        const ssize_t count = ::read(STDIN_FILENO, line, sizeof line);
        if (count <= 0) {
            input.setEnabled(false);
            if (!options.isSet(seconds))
                link.hangUpWhenSent();
            return;
        }
        for (const QString &command :
             QString::fromUtf8(line, count).split(u'\n', Qt::SkipEmptyParts))
            link.enqueue(command);
    });
    if (options.isSet(seconds))
        QTimer::singleShot(int(options.value(seconds).toDouble() * 1000), &app,
                           &QCoreApplication::quit);
    const int status = app.exec();
    return status != 0 ? status : link.refused() ? 1 : 0;
}
