#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The command line of quillmoor-flash.
struct FlashCommandLine {
    enum class Action { Update, List, Help, Version, Error };

    Action action = Action::Update;
    QStringList ports; // --port, in the order given
    bool all = false;
    bool json = false;
    bool quiet = false;
    QString server;    // --server; empty: the built-in one or QLM_UPDATE_SERVER
    QStringList files; // one package, or the two images
    // Files among them whose names are not text (Unix): their names' bytes.
    QHash<QString, QByteArray> rawFiles;
    QString error; // what is wrong, for Action::Error

    static FlashCommandLine Parse(const QStringList& arguments);
    static QString Usage(const QString& program);
};
