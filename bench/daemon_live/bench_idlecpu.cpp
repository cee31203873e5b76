// SPDX-License-Identifier: MIT
// CPU time of the real MarquellDaemon while nothing listens on the Live port: it
// runs its reconnection cycle the whole time. Temporary home, loopback only.
//
//   bench_idlecpu [seconds, default 60]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// CPU time of a process in nanoseconds: schedstat's run time, precise to the
// nanosecond where the kernel keeps it; stat's ticks otherwise.
qint64 cpuNanoseconds(qint64 pid)
{
    QFile schedstat(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (schedstat.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 ns = schedstat.readAll().split(' ').value(0).toLongLong(&ok);
        if (ok)
            return ns;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks =
        fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
    return ticks * 1000000000LL / sysconf(_SC_CLK_TCK);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;

    QTemporaryDir home;
    const QString runtime = home.path() + QStringLiteral("/run");
    const QString support = home.path() + QStringLiteral("/Library/Application Support/Marquell");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(support);
    quint16 port = 0;
    {
        QTcpServer probe; // a free loopback port, released so nothing listens on it
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    QFile json(support + QStringLiteral("/server.json"));
    if (!json.open(QIODevice::WriteOnly))
        return 1;
    json.write("{\"port\": " + QByteArray::number(port) + "}");
    json.close();

    QProcess daemon;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    daemon.setProcessEnvironment(env);
    daemon.setProgram(QStringLiteral(MARQUELL_DAEMON_BINARY));
    daemon.start();
    if (!daemon.waitForStarted())
        return 1;
    const qint64 pid = daemon.processId();

    // Past start-up, then measure.
    QThread::msleep(1000);
    QByteArray output = daemon.readAllStandardOutput();
    const int cyclesBefore = int(output.count("Cancelled connection to Live\n"));
    const qint64 cpuStart = cpuNanoseconds(pid);
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < seconds * 1000LL) {
        daemon.waitForReadyRead(200);
        output += daemon.readAllStandardOutput();
    }
    const qint64 cpuEnd = cpuNanoseconds(pid);
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    output += daemon.readAllStandardOutput();
    const int cycles = int(output.count("Cancelled connection to Live\n")) - cyclesBefore;

    ::kill(pid_t(pid), SIGTERM);
    daemon.waitForFinished(10000);

    const double cpuSeconds = double(cpuEnd - cpuStart) / 1e9;
    std::printf("idle daemon, nothing listening on 127.0.0.1:%u, %.1f s\n", port, wallSeconds);
    std::printf("  cpu time      : %.3f ms (%.4f %% of a core; target < 0.2 %%)\n",
                cpuSeconds * 1000.0, 100.0 * cpuSeconds / wallSeconds);
    std::printf("  connect cycles: %d (%.2f per second)\n", cycles, double(cycles) / wallSeconds);
    std::printf("  cpu per cycle : %.1f us\n", cycles > 0 ? cpuSeconds * 1e6 / cycles : 0.0);
    std::printf("  exit on SIGTERM: %s, code %d\n",
                daemon.exitStatus() == QProcess::NormalExit ? "normal" : "crashed",
                daemon.exitCode());
    std::printf("BENCH daemon_idle_cpu %.4f %% - <=0.2\n", 100.0 * cpuSeconds / wallSeconds);
    return cpuStart >= 0 && cpuEnd >= 0 ? 0 : 1;
}
