#pragma once

#include <QString>
#include <QStringList>

class SimCardIssuer;

// The headless simulator's command language, one command per line:
//   new [SERIAL]                     a blank card (prints its serial)
//   present SERIAL                   put the card on the reader
//   remove                           take the card off the reader
//   list                             one line per card: serial, present|absent, sector letters
//   fault read|write|noanswer|corrupt N   the next N operations fail that way
//   fault highbit on|off             bit 7 on every result
//   fault delay MS                   hold every answer back
//   unplug, plug, quit
// Serials are decimal. Commands without output of their own print "ok"; a refused command prints
// "error: " and the reason.
class SimCommands {
public:
    explicit SimCommands(SimCardIssuer* issuer) : m_issuer(issuer) {}
    // Runs one line and returns what to print. quit is set by "quit".
    QStringList execute(const QString& line, bool* quit);

private:
    SimCardIssuer* m_issuer;
};
