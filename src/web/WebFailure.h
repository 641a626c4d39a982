#pragma once

#include <QString>

// Why a fetch from a server failed, so that a message names the cause, and gives the advice
// to check the internet connection only where the network may be at fault.
struct WebFailure {
    enum class Cause {
        None,
        NameNotFound, // the server's name is unknown: no network, or a wrong name
        NoRoute,      // the network or the host cannot be reached
        TimedOut,     // no answer came in time
        Stalled,      // the server sent too little for too long (words: how little)
        Refused,      // the host answered: nothing listens there
        Closed,       // the server ended the connection without an answer
        Status,       // the server answered with an error status
        BrokenOff,    // the body ended before it was whole
        Other,        // anything else, in the system's words
    };

    Cause cause = Cause::None;
    int status = 0; // with Cause::Status
    QString words;  // the status's reason phrase, or the system's words with Cause::Other

    static WebFailure OfStatus(int status, const QString& phrase = {});
    static WebFailure Of(Cause cause, const QString& words = {}) { return {cause, 0, words}; }

    bool Failed() const { return cause != Cause::None; }
    // True where the user's own connection may be what failed.
    bool NetworkMayBeAtFault() const;
    // The Monitor log's note, "[NOTE: THE SERVER ANSWERED 404 NOT FOUND]".
    QString Note() const;
    // The same for a sentence, "the server answered 404 Not Found".
    QString Text() const;
};
