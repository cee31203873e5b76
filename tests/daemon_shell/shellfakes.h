// SPDX-License-Identifier: MIT
#pragma once

#include "daemonprompts.h"
#include "loginitem.h"
#include "thrucontrol.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

// A login item whose state the test sets; enable fails when failure is set.
struct FakeLoginItem final : LoginItem
{
    bool isEnabled() override { return enabled; }
    std::optional<LoginItemError> enable() override
    {
        calls << QStringLiteral("enable");
        enabled = !failure;
        return failure;
    }
    void disable() override
    {
        calls << QStringLiteral("disable");
        enabled = false;
    }
    void migrateLegacyAgent() override {}
    bool enabled = false;
    std::optional<LoginItemError> failure;
    QStringList calls;
};

// Answers every alert at once and keeps its two texts.
struct RecordingPrompts final : DaemonPrompts
{
    void showError(const QString &description, const QString &suggestion) override
    {
        shown.append({description, suggestion});
    }
    QList<QStringList> shown;
};

// Toggling flips the selection, as the daemon's MIDI thru does.
struct FakeThru final : ThruControl
{
    QList<Source> availableSources() const override { return sources; }
    QSet<qint32> selectedSourceIDs() const override { return selected; }
    void toggle(qint32 id) override
    {
        if (!selected.remove(id))
            selected.insert(id);
    }
    QList<Source> sources;
    QSet<qint32> selected;
};

// A launchctl stand-in: appends its arguments as one line to "calls" beside it and
// exits with the status written in "status" (0 when there is none).
struct FakeLaunchctl final
{
    FakeLaunchctl()
    {
        write("launchctl", "#!/bin/sh\nd=$(dirname \"$0\")\necho \"$*\" >>\"$d/calls\"\n"
                           "exit $(cat \"$d/status\" 2>/dev/null || echo 0)\n");
        QFile(path()).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }
    QString path() const { return dir.filePath(QStringLiteral("launchctl")); }
    void write(const QString &name, const QByteArray &text) const
    {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    void setStatus(int status) const
    {
        write(QStringLiteral("status"), QByteArray::number(status));
    }
    QStringList takeCalls() const // the lines so far; reading clears them
    {
        QFile file(dir.filePath(QStringLiteral("calls")));
        const QString text = file.open(QIODevice::ReadOnly) ? file.readAll() : QString();
        file.remove();
        return text.split(u'\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir dir;
};
