#include "Passwords.h"

#include "store/Clock.h"
#include "store/DM.h"
#include "store/OperationError.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>

namespace {

constexpr int SaltBytes = 16;

// Compares every byte whatever the first difference, so that the time taken tells nothing about
// how much of a guess was right.
bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

struct StoredPassword {
    QByteArray salt;
    QByteArray hash;
    int iterations = 0;
    QString changedAt;
};

// The office's password of the level; nullopt when it set none. Throws OperationError when the
// database cannot be read.
std::optional<StoredPassword> storedPassword(int level)
{
    if (!dm)
        throw OperationError(QStringLiteral("没有打开数据库"));
    DataSet ds(*dm, QStringLiteral("OfficePassword"));
    ds.Open(QStringLiteral("select Salt, Hash, Iterations, ChangedAt from OfficePassword "
                           "where OperatorLevel = :level"),
            {{QStringLiteral("level"), level}});
    if (ds.Eof())
        return std::nullopt;
    StoredPassword stored;
    stored.salt = ds.Field(QStringLiteral("Salt")).toByteArray();
    stored.hash = ds.Field(QStringLiteral("Hash")).toByteArray();
    stored.iterations = ds.Field(QStringLiteral("Iterations")).toInt();
    stored.changedAt = ds.Field(QStringLiteral("ChangedAt")).toString();
    return stored;
}

} // namespace

QString WrittenPassword(int level)
{
    switch (level) {
    case AdministratorLevel:
        return QStringLiteral("470925");
    case MaintainerLevel:
        return QStringLiteral("639104");
    default:
        return QString();
    }
}

QByteArray PasswordHash(const QString& password, const QByteArray& salt, int iterations, int length)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt, iterations,
                                              quint64(length));
}

bool CheckPassword(int level, const QString& password, QString* fellBack)
{
    std::optional<StoredPassword> stored;
    try {
        stored = storedPassword(level);
    } catch (const OperationError& e) {
        if (fellBack)
            *fellBack = e.message();
        stored.reset();
    }
    if (!stored) {
        const QString written = WrittenPassword(level);
        return written.isEmpty() || password == written;
    }
    // A row that cannot hold a hash (no rounds, no salt) opens nothing rather than everything.
    if (stored->iterations <= 0 || stored->salt.isEmpty() || stored->hash.isEmpty())
        return false;
    return sameBytes(PasswordHash(password, stored->salt, stored->iterations, int(stored->hash.size())),
                     stored->hash);
}

std::optional<QString> PasswordChangedAt(int level)
{
    const std::optional<StoredPassword> stored = storedPassword(level);
    if (!stored)
        return std::nullopt;
    return stored->changedAt;
}

bool SetPassword(int level, const QString& password)
{
    if (password.isEmpty())
        return false;
    QByteArray salt(SaltBytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    const QByteArray hash = PasswordHash(password, salt, PasswordIterations);
    Transaction change;
    dm->ExecuteSQL(QStringLiteral("delete from OfficePassword where OperatorLevel = :level"),
                   {{QStringLiteral("level"), level}});
    // The salt and the hash stay placeholders in an error box: they are nobody's business.
    dm->ExecuteSQL(
        QStringLiteral("insert into OfficePassword (OperatorLevel, Salt, Hash, Iterations, ChangedAt) "
                       "values (:level, :salt, :hash, :iterations, :changedAt)"),
        {{QStringLiteral("level"), level},
         {QStringLiteral("salt"), salt},
         {QStringLiteral("hash"), hash},
         {QStringLiteral("iterations"), PasswordIterations},
         {QStringLiteral("changedAt"), Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))}},
        {QStringLiteral("salt"), QStringLiteral("hash")});
    return change.Commit();
}

bool RemovePassword(int level)
{
    return dm->ExecuteSQL(QStringLiteral("delete from OfficePassword where OperatorLevel = :level"),
                          {{QStringLiteral("level"), level}});
}

int ResetPasswords()
{
    DataSet ds(*dm, QStringLiteral("OfficePassword"));
    ds.Open(QStringLiteral("select count(*) as Levels from OfficePassword"));
    const int levels = ds.Field(QStringLiteral("Levels")).toInt();
    ds.Close();
    if (!dm->ExecuteSQL(QStringLiteral("delete from OfficePassword")))
        return -1;
    return levels;
}
