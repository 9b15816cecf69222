// A second desk for the two-desk tests: a program of its own on the same database, as the
// gatehouse's PC beside the office's. It opens the database, says "ready", waits for "go" on
// its standard input and then runs its action; every message the store would show goes to
// standard error and makes it fail.
//
// Usage: desk_child <folder> <database> <action> [argument]
// Actions: open (the schema goes in when the database is new), register <first owner card number
// prefix> <count> (registers card serial i to its owner <prefix><i>, for i from 0, all in one
// batch), resave <first owner card number prefix> <count> (reads owner <prefix><i> before "ready",
// and after "go" saves each one again as the owner editor's add mode does, all in one batch), hold
// (adds the owner HELD in a change of its own, says "holding", and keeps the change
// open until a line comes on its standard input; then it commits).

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/OwnerStatements.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

int shown = 0;

class StderrDialogs final : public Dialogs {
public:
    MsgAnswer message(MsgIcon, MsgButtons, const QString& text) override
    {
        ++shown;
        std::fprintf(stderr, "desk_child: %s\n", text.toUtf8().constData());
        return MsgAnswer::Abort;
    }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
};

// The serial of card i, as the card issuer reports serials.
QString serial(int i)
{
    return QStringLiteral("%1").arg(3000000000LL + i, 10, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4)
        return 2;
    StderrDialogs dialogs;
    setDialogs(&dialogs);
    SetAppPath(args[1]);
    SetDatabaseOverride(args[2]);
    const QString action = args[3];
    dm = new Tdm;
    int rc = 0;
    try {
        // The owners to save again, as the editor holds them: read before the other desk goes.
        std::vector<TuserInfoRec> owners;
        if (action == QLatin1String("resave")) {
            const QString prefix = args.value(4);
            const int count = args.value(5).toInt();
            for (int i = 0; i < count; ++i) {
                TuserInfoRec& rec = owners.emplace_back();
                if (LoadUserInfoByCardNo(*dm, prefix + QString::number(i), rec) != 1)
                    throw std::runtime_error("owner missing");
                rec.idx = FindUserByCardNo(*dm, prefix + QString::number(i));
            }
        }
        std::printf("ready\n");
        std::fflush(stdout);
        std::string go;
        std::getline(std::cin, go);
        if (action == QLatin1String("open")) {
            dm->database();
        } else if (action == QLatin1String("register")) {
            const QString prefix = args.value(4);
            const int count = args.value(5).toInt();
            // The registrations run in one batch, so that the two desks' changes are in progress
            // at the same time, as two operators' at the same moment would be now and then.
            if (!dm->BeginBatch())
                throw std::runtime_error("no batch");
            for (int i = 0; i < count; ++i) {
                TuserInfoRec rec;
                if (LoadUserInfoByCardNo(*dm, prefix + QString::number(i), rec) != 1)
                    throw std::runtime_error("owner missing");
                const int idx = FindUserByCardNo(*dm, prefix + QString::number(i));
                if (!RegisterCardID(*dm, idx, serial(i)))
                    rc = 1;
            }
            if (!dm->CommitBatch())
                rc = 1;
        } else if (action == QLatin1String("resave")) {
            if (!dm->BeginBatch())
                throw std::runtime_error("no batch");
            for (TuserInfoRec& rec : owners) {
                if (!AddUserInfo(*dm, rec))
                    rc = 1;
            }
            if (!dm->CommitBatch())
                rc = 1;
        } else if (action == QLatin1String("hold")) {
            if (!dm->BeginBatch())
                throw std::runtime_error("no batch");
            TuserInfoRec rec;
            rec.UserName = QStringLiteral("门岗");
            rec.CardNo = QStringLiteral("HELD");
            if (!InsertUserInfo(*dm, rec))
                rc = 1;
            std::printf("holding\n");
            std::fflush(stdout);
            std::string commit;
            std::getline(std::cin, commit);
            if (!dm->CommitBatch())
                rc = 1;
        } else {
            rc = 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "desk_child: %s\n", e.what());
        rc = 1;
    }
    delete dm;
    dm = nullptr;
    setDialogs(nullptr);
    return rc != 0 ? rc : (shown > 0 ? 1 : 0);
}
