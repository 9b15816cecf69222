#pragma once

#include "SqlFailure.h"
#include "SqlText.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <memory>

class PreparedBackend;
class Tdm;

// A statement prepared once on the data module's connection and run many times over, for the runs
// that go through a whole community at once (the owner data import and export): there, preparing
// each time and turning every value into a variant would cost more than the work itself. Values
// are bound by name, never pasted into the text. User-interface thread only, and only while the
// connection stays open (the run owns its statements and finishes them before it returns).
// The engine's own library does the work (see PreparedBackend in engine/Engine.h); on a server the
// rows of a query come one at a time, and while they are being read nothing else may run on the
// connection.
class PreparedStatement {
public:
    // Throws OperationError when the database cannot be used or the statement not prepared.
    PreparedStatement(Tdm& module, const QString& sql);
    ~PreparedStatement();
    PreparedStatement(const PreparedStatement&) = delete;
    PreparedStatement& operator=(const PreparedStatement&) = delete;

    const QString& Sql() const { return m_sql; }

    // The parameters of the statement in a fixed order, for BindAt: names as in SqlParams.
    void Name(const QStringList& names);
    // Binds value i to the i-th name given to Name (a null variant, or a null text, binds NULL).
    // Bytes are not copied: they must stay alive until the statement has run.
    void BindAt(int i, const QVariant& value);
    // The same for a text (a null one binds an empty text, as TextValue gives it) and a whole
    // number, without a variant: an import binds a community's values one by one.
    void BindTextAt(int i, QStringView text);
    void BindIntAt(int i, qint64 value);
    // Binds the values to the parameters they name.
    void Bind(const SqlParams& params);

    // Runs a statement that returns no rows; false when the engine refuses it (ErrorText says why).
    bool Exec();
    // Steps a query: true on a row, false at the end; throws OperationError on an engine error.
    bool Next();
    // Makes the statement ready to run again (the bound values stay).
    void Reset();

    // Columns of the current row, from 0. Text is the engine's UTF-8; Null gives IsNull.
    bool IsNull(int column) const;
    QByteArrayView Text(int column) const;
    QByteArrayView Blob(int column) const;
    qint64 Int(int column) const;

    // The engine's text for the last failure.
    QString ErrorText() const;
    // What the last failure of Exec was about: the row's values, or the database, its disk or its
    // connection.
    SqlFailure Failure() const;
    // Whether the connection is inside a transaction (false after the engine dropped one).
    bool InTransaction() const;

private:
    QString m_sql;
    std::unique_ptr<PreparedBackend> m_backend;
};
