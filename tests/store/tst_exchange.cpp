// Owner data files written and read in a program folder of their own: the file's exact bytes,
// the owners it brings back, the lines it skips or stops at, and the choices before an export.

#include "StoreFixture.h"
#include "store/ImportBatch.h"
#include "store/OwnerExchange.h"
#include "store/OwnerStatements.h"
#include "store/Prepared.h"

#include "cards/Digits.h"
#include "cards/Gbk.h"
#include "support/FileFaults.h"
#include "support/Files.h"
#include "support/OwnerRecords.h"

namespace {

const QByteArray Header = StringToGbk(QString::fromUtf8(OwnerFileHeader)) + "\r\n";

// An owner data file from lines of text: the header, then the lines, each ended by CR LF, in GBK.
QByteArray ownerFile(const QStringList& lines, const QByteArray& header = Header)
{
    QByteArray bytes = header;
    for (const QString& line : lines)
        bytes += StringToGbk(line) + "\r\n";
    return bytes;
}

// Every owner as the file carries it and as the database holds it, in the order of idx.
QVariantList owners()
{
    // The marks as 1 and 0 and the bitmap as upper-case hexadecimal digits on both engines.
    const bool server = dm->IsServer();
    const QString used = server ? QStringLiteral("IsUseExpDate::int") : QStringLiteral("IsUseExpDate");
    const QString bitmap =
        server ? QStringLiteral("upper(encode(VaildTerminal, 'hex'))") : QStringLiteral("hex(VaildTerminal)");
    return column(QStringLiteral("select DongHao || '|' || DanYuan || '|' || FangHao || '|' || CardID || '|' "
                                 "|| UserName || '|' || phone "
                                 "|| '|' || chUseExpdate || '|' || %1 || '|' || Expdate || '|' || "
                                 "Sex || '|' || UserType || '|' "
                                 "|| CardNo || '|' || ExtName || '|' || %2 || '|' || chLoss "
                                 "|| '|' || Remark || '|' || "
                                 "BuildName from UserInfo order by idx")
                      .arg(used, bitmap));
}

// A trigger that refuses to add the owner of that name (its text is a literal of the test's own).
void refuseOwner(const QString& name)
{
    QSqlQuery q(dm->database());
    const bool made =
        dm->IsServer()
            ? q.exec(QStringLiteral("create function refuse() returns trigger language plpgsql as $$ begin "
                                    "if new.UserName = '%1' then raise exception 'refused'; end if; "
                                    "return new; end $$")
                         .arg(name)) &&
                  q.exec(QStringLiteral("create trigger refuse before insert on UserInfo for each row "
                                        "execute function refuse()"))
            : q.exec(QStringLiteral("create trigger refuse before insert on UserInfo when new.UserName = "
                                    "'%1' begin select raise(abort, 'refused'); end")
                         .arg(name));
    QVERIFY2(made, qPrintable(q.lastError().text()));
}

TuserInfoRec withTerminals(TuserInfoRec r, std::initializer_list<int> terminals)
{
    for (int t : terminals)
        SetTerminal(r.VaildTerminal.data(), t);
    return r;
}

} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void exportWritesTheFileAndImportBringsItBack();
    void exportOfOneUnitSortedByRoom();
    void nullColumnsAreEmptyFields();
    void exportRefusesTextsGbkCannotHold();
    void exportRefusesOwnersTheImportCannotReadBack();
    void userDefinedCharactersGoBothWays();
    void exportThatCannotBeWrittenLeavesNoFile_data();
    void exportThatCannotBeWrittenLeavesNoFile();
    void exportChoice_data();
    void exportChoice();
    void fileChoices();
    void importTwiceIsOnce();
    void headerAndEmptyFirstFieldsAreSkipped();
    void utf8Files_data();
    void utf8Files();
    void lineThatCannotBeReadStops_data();
    void lineThatCannotBeReadStops();
    void refusedLineIsLeftOutAlone();
    void importStopsWhenTheDatabaseCannotWrite_data();
    void importStopsWhenTheDatabaseCannotWrite();
    void busyDatabaseIsNotADamagedOne();
    void longFieldsAreQuotedShort();
    void textsSurviveTheBatch_data();
    void textsSurviveTheBatch();
    void fileWithTabsAndBackslashesGoesBothWays();
    void importKeepsOneHolderPerCard_data();
    void importKeepsOneHolderPerCard();
    void batchEqualsOwnersOneByOne_data();
    void batchEqualsOwnersOneByOne();
    void changesOfAnotherDeskBetweenCommitsCount();
    void textTheServerCannotHoldIsLeftOutAlone();
    void refusedOwnerAfterOthersWentInIsLeftOutAlone();
    void batchEndedWithoutCommitKeepsNothing();
    void serverParameters_data();
    void serverParameters();
    void missingAndUnreadableFiles();
    void filesWithoutOwnerLines_data();
    void filesWithoutOwnerLines();
    void readerCountsLines_data();
    void readerCountsLines();
    void statementsUseTheirIndexes();

private:
    QString path(const QString& name) const { return f.folder() + QLatin1Char('/') + name; }
    StoreFixture f;
};

void TestExchange::exportWritesTheFileAndImportBringsItBack()
{
    TuserInfoRec a = withTerminals(
        OwnerRecord(QStringLiteral("张三"), QStringLiteral("A1"), 1, 2, QStringLiteral("0101")), {0, 3, 17});
    a.CardID = PadNumber(1234567, 10);
    a.Phone = QStringLiteral("13800000000");
    a.ExtName = QStringLiteral("zs.jpg");
    a.IsUseExpDate = true;
    a.chUseExpdate = QStringLiteral("是");
    a.ExpDate = QDate(2027, 1, 5);
    // No card serial, no photo, no terminal; a name with a quote and a semicolon; reported lost.
    TuserInfoRec b =
        OwnerRecord(QStringLiteral("O'Neil;\"李\""), QStringLiteral("B2"), 1, 2, QStringLiteral("0102"));
    b.chLoss = QStringLiteral("挂失");
    b.Remark = QStringLiteral("不出现在文件里");
    QVERIFY(InsertUserInfo(*dm, a));
    QVERIFY(InsertUserInfo(*dm, b));

    QList<QPair<int, int>> steps;
    const ExchangeResult out = ExportOwners(path("owners.csv"), ExportFilter{}, [&](int done, int total) {
        steps.append({done, total});
    });
    QVERIFY2(out.ok(), qPrintable(out.message));
    QCOMPARE(out.message, QStringLiteral("操作完成"));
    QCOMPARE(out.done, 2);
    QCOMPARE(steps.first(), qMakePair(0, 2));
    QCOMPARE(steps.last(), qMakePair(2, 2));
    QCOMPARE(ReadFile(path("owners.csv")),
             ownerFile({QStringLiteral(
                            "1,2,101,_0001234567,张三,13800000000,是,2027/1/5,男,用户卡,_A1,zs.jpg,0|3|17|"),
                        QStringLiteral("1,2,102,_,O'Neil;\"李\",,否,2025/6/30,男,用户卡,_B2,null.jpg,")}));

    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo")));
    const ExchangeResult in = ImportOwners(path("owners.csv"));
    QVERIFY2(in.ok(), qPrintable(in.message));
    QCOMPARE(in.done, 2);
    QCOMPARE(in.message, QStringLiteral("操作完成"));
    // The room comes back as the file wrote it, the lost owner is no longer lost, the remark is gone.
    QCOMPARE(owners(),
             (QVariantList{
                 QStringLiteral("1|2|101|0001234567|张三|13800000000|是|1|2027-01-05|男|用户卡|A1|zs.jpg|"
                                "9000400000000000000000000000000000000000000000000000000000000000|||"),
                 QStringLiteral("1|2|102||O'Neil;\"李\"||否|0|2025-06-30|男|用户卡|B2|null.jpg|"
                                "0000000000000000000000000000000000000000000000000000000000000000|||")}));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestExchange::exportOfOneUnitSortedByRoom()
{
    // Inserted out of order, over three units of two buildings.
    const struct {
        int building, unit;
        const char* room;
    } rows[] = {{3, 2, "0302"}, {3, 1, "0101"}, {3, 2, "0101"}, {2, 2, "0101"}, {3, 2, "0201"}};
    for (const auto& r : rows)
        QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("业主"),
                                                QLatin1String(r.room) + QString::number(r.unit), r.building,
                                                r.unit, QLatin1String(r.room))));
    auto firstFields = [this] {
        QStringList out;
        const QList<QByteArray> lines = ReadFile(path("out.csv")).split('\n');
        for (const QByteArray& line : lines.mid(1, lines.size() - 2))
            out << QString::fromLatin1(line.left(line.indexOf(",_")));
        return out;
    };
    QVERIFY(
        ExportOwners(path("out.csv"), *ExportFilterFromTexts(QStringLiteral("3"), QStringLiteral("2"))).ok());
    QCOMPARE(firstFields(), (QStringList{"3,2,101", "3,2,201", "3,2,302"}));
    QVERIFY(ExportOwners(path("out.csv"), ExportFilter{}).ok());
    QCOMPARE(firstFields(), (QStringList{"2,2,101", "3,1,101", "3,2,101", "3,2,201", "3,2,302"}));
}

void TestExchange::nullColumnsAreEmptyFields()
{
    // A row some other program left with nothing in it but its place and card number, and one after
    // it: both are written, the empty one with empty fields, and the room that is no number as it
    // stands; the file reads back.
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("insert into UserInfo (DongHao, DanYuan, CardNo) values (7, 8, 'N1')")));
    QVERIFY(InsertUserInfo(
        *dm, OwnerRecord(QStringLiteral("王,五"), QStringLiteral("N2"), 9, 9, QStringLiteral("1-1"))));
    QVERIFY(ExportOwners(path("out.csv"), ExportFilter{}).ok());
    const QByteArray file =
        ownerFile({QStringLiteral("7,8,,_,,,,,,,_N1,null.jpg,"),
                   QStringLiteral("9,9,1-1,_,王，五,,否,2025/6/30,男,用户卡,_N2,null.jpg,")});
    QCOMPARE(ReadFile(path("out.csv")), file);
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo")));
    QVERIFY(ImportOwners(path("out.csv")).ok());
    QCOMPARE(column(QStringLiteral(
                 "select DongHao || '/' || DanYuan || '/' || CardNo from UserInfo order by idx")),
             (QVariantList{QStringLiteral("7/8/N1"), QStringLiteral("9/9/N2")}));
}

void TestExchange::exportRefusesTextsGbkCannotHold()
{
    // Texts the database holds well (it is UTF-8) but GBK cannot: the whole export is refused with
    // every such line, its owner and its fields named; no new file is left, and the one that was
    // there stays as it was. Rare characters GBK has go over.
    WriteFile(path("out.csv"), "an older export");
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("张三"), QStringLiteral("E1"), 1, 1, "0101")));
    TuserInfoRec smiling = OwnerRecord(QStringLiteral("李😀四"), QStringLiteral("E2"), 1, 2, "0302");
    smiling.Phone = QStringLiteral("☎🙂");
    QVERIFY(InsertUserInfo(*dm, smiling));
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("喆犇"), QStringLiteral("E3"), 2, 1, "0101")));
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("王五"), QStringLiteral("E4🏠"), 3, 1, "0101")));
    const ExchangeResult r = ExportOwners(path("out.csv"), ExportFilter{});
    QCOMPARE(r.status, ExchangeStatus::Unexportable);
    QCOMPARE(
        r.unexportable,
        (QStringList{
            QStringLiteral("第3行（1栋2单元302，卡号别名 E2）：业主姓名、联系电话有GBK编码不能表示的字符"),
            QStringLiteral("第5行（3栋1单元101，卡号别名 E4🏠）：卡号别名有GBK编码不能表示的字符")}));
    QVERIFY(r.message.startsWith(QString::fromUtf8(ExportRefusedOwnersText) + QLatin1Char('\n') +
                                 r.unexportable[0]));
    QCOMPARE(ReadFile(path("out.csv")), QByteArray("an older export"));
    QCOMPARE(QDir(f.folder()).entryList({QStringLiteral("out.csv*")}), QStringList{"out.csv"});
    ShowExchangeResult(r);
    QCOMPARE(f.dialogs.shown.size(), 1);
    QCOMPARE(f.dialogs.shown[0].buttons, MsgButtons::Abort);

    // Corrected, the same owners go over whole.
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("update UserInfo set UserName = '李四', phone = '' where CardNo = 'E2'")));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set CardNo = 'E4' where CardNo = 'E4🏠'")));
    QVERIFY(ExportOwners(path("out.csv"), ExportFilter{}).ok());
    QVERIFY(!ReadFile(path("out.csv")).contains('?'));
    QVERIFY(ReadFile(path("out.csv")).contains(StringToGbk(QStringLiteral("喆犇"))));
}

void TestExchange::exportRefusesOwnersTheImportCannotReadBack()
{
    // Owners whose line the import would skip (no building) or stop at (no unit, an expiry that is
    // no date) are refused as texts GBK cannot hold are: named, with what is wrong, and no file.
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("张三"), QStringLiteral("P1"), 1, 1)));
    QVERIFY(dm->ExecuteSQL(QStringLiteral(
        "insert into UserInfo (DanYuan, FangHao, CardNo, UserName) values (2, '0102', 'P2', '无栋号')")));
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("insert into UserInfo (DongHao, FangHao, CardNo) values (3, '0103', 'P3')")));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (DongHao, DanYuan, FangHao, CardNo, Expdate) "
                                          "values (4, 1, '0104', 'P4', '明年')")));
    const ExchangeResult r = ExportOwners(path("out.csv"), ExportFilter{});
    QCOMPARE(r.status, ExchangeStatus::Unexportable);
    // Ordered as the file would be: the owner without a building first.
    QCOMPARE(r.unexportable,
             (QStringList{QStringLiteral("第2行（？栋2单元102，卡号别名 P2）：没有栋号"),
                          QStringLiteral("第4行（3栋？单元103，卡号别名 P3）：没有单元号"),
                          QStringLiteral("第5行（4栋1单元104，卡号别名 P4）：有效期“明年”不是日期")}));
    QVERIFY(!QFileInfo::exists(path("out.csv")));
    QVERIFY(QDir(f.folder()).entryList({QStringLiteral("out.csv*")}).isEmpty());
}

void TestExchange::userDefinedCharactersGoBothWays()
{
    // Rare characters an office keeps in the user-defined areas of the Chinese Windows code page,
    // as the first and last codes of the three areas: in through the import, kept in the database
    // as the code page maps them, and out again byte for byte.
    const QByteArray file = Header + "1,1,101,_,\xD5\xC5\xAA\xA1\xAF\xFE,,\xB7\xF1,2026/1/1,\xC4\xD0,"
                                     "\xD3\xC3\xBB\xA7\xBF\xA8,_R1,null.jpg,\r\n"
                                     "1,1,102,_,\xF8\xA1\xFE\xFE\xA1\x40\xA7\xA0,,\xB7\xF1,2026/1/1,\xC4\xD0,"
                                     "\xD3\xC3\xBB\xA7\xBF\xA8,_R2\xA1\x80,null.jpg,\r\n";
    WriteFile(path("in.csv"), file);
    const ExchangeResult in = ImportOwners(path("in.csv"));
    QVERIFY2(in.ok(), qPrintable(in.message));
    QCOMPARE(column(QStringLiteral("select UserName || '/' || CardNo from UserInfo order by idx")),
             (QVariantList{QStringLiteral("张\uE000\uE233/R1"),
                           QStringLiteral("\uE234\uE4C5\uE4C6\uE765/R2\uE505")}));
    QVERIFY(ExportOwners(path("out.csv"), ExportFilter{}).ok());
    QCOMPARE(ReadFile(path("out.csv")), file);
}

void TestExchange::exportThatCannotBeWrittenLeavesNoFile_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("reason");
    QTest::newRow("full disk") << "full"
                               << "磁盘已满";
    QTest::newRow("read-only folder") << "read-only"
                                      << "只读";
}

void TestExchange::exportThatCannotBeWrittenLeavesNoFile()
{
    // The export goes to a file beside the target, which takes the target's place only once it is
    // whole on the disk: a disk that fills up half-way or a folder that takes no file leaves the
    // earlier export as it was and nothing beside it, and the message says why in words.
    QFETCH(QString, cause);
    QFETCH(QString, reason);
    QVERIFY(dm->BeginBatch());
    for (int i = 0; i < 300; ++i)
        QVERIFY(
            InsertUserInfo(*dm, OwnerRecord(QStringLiteral("业主%1").arg(i), QStringLiteral("F%1").arg(i))));
    QVERIFY(dm->CommitBatch());
    const QString folder = path("exports");
    QVERIFY(QDir().mkpath(folder));
    const QString target = folder + QStringLiteral("/owners.csv");
    WriteFile(target, "the export of last month");
    ExchangeResult r;
    if (!FileSizeLimit::Possible())
        QSKIP("no means on this system to make the disk refuse writes");
    if (cause == QLatin1String("full")) {
        // The file system refuses every write past 4 KiB, as a full disk would half-way.
        FileSizeLimit small(4096);
        QVERIFY(small.Active());
        r = ExportOwners(target, ExportFilter{});
    } else {
        ReadOnlyFolder readOnly(folder, f.folder());
        r = ExportOwners(target, ExportFilter{});
    }
    QCOMPARE(r.status, ExchangeStatus::FileError);
    QVERIFY2(r.message.contains(reason), qPrintable(r.message));
    QVERIFY2(!r.message.contains(QStringLiteral("Unknown error")), qPrintable(r.message));
    QCOMPARE(ReadFile(target), QByteArray("the export of last month"));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("owners.csv")});

    // Once the disk takes it again, the export replaces the old file whole.
    QVERIFY(ExportOwners(target, ExportFilter{}).ok());
    QCOMPARE(ReadFile(target).count("\r\n"), 301);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("owners.csv")});
}

void TestExchange::exportChoice_data()
{
    QTest::addColumn<QString>("building");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<MsgAnswer>("answer");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<MsgIcon>("icon");
    QTest::addColumn<QString>("filter"); // "everyone", "b/u", or empty when the export does not run
    const QString refused = QStringLiteral("栋号，单元号输入错误．操作终止");
    const QString everyone = QStringLiteral("要导出所有的用户记录吗？");
    QTest::newRow("one unit") << "3"
                              << "2" << MsgAnswer::No << "" << MsgIcon::None << "3/2";
    QTest::newRow("only the building") << "3"
                                       << "" << MsgAnswer::No << refused << MsgIcon::Warning << "";
    QTest::newRow("only the unit") << ""
                                   << "2" << MsgAnswer::No << refused << MsgIcon::Warning << "";
    QTest::newRow("not a number") << "3a"
                                  << "2" << MsgAnswer::No << refused << MsgIcon::Warning << "";
    QTest::newRow("everyone, yes") << ""
                                   << "" << MsgAnswer::Yes << everyone << MsgIcon::Question << "everyone";
    QTest::newRow("everyone, no") << ""
                                  << "" << MsgAnswer::No << everyone << MsgIcon::Question << "";
}

void TestExchange::exportChoice()
{
    QFETCH(QString, building);
    QFETCH(QString, unit);
    QFETCH(MsgAnswer, answer);
    QFETCH(QString, shown);
    QFETCH(MsgIcon, icon);
    QFETCH(QString, filter);
    auto described = [](const std::optional<ExportFilter>& chosen) {
        if (!chosen)
            return QString();
        return chosen->everyone ? QStringLiteral("everyone")
                                : QStringLiteral("%1/%2").arg(chosen->building).arg(chosen->unit);
    };
    f.dialogs.answers = {answer};
    QCOMPARE(described(ChooseExport(building, unit)), filter);
    QCOMPARE(f.dialogs.texts(), shown.isEmpty() ? QStringList() : QStringList{shown});
    if (!shown.isEmpty())
        QCOMPARE(f.dialogs.shown.first().icon, icon);

    // The command line asks nothing: no building and no unit is everyone; wrong texts are refused.
    f.dialogs.clear();
    const std::optional<ExportFilter> unasked = ChooseExport(building, unit, false);
    QCOMPARE(described(unasked), icon == MsgIcon::Question ? QStringLiteral("everyone") : filter);
    QCOMPARE(f.dialogs.shown.size(), icon == MsgIcon::Warning ? 1 : 0);
}

void TestExchange::fileChoices()
{
    // The export: ".csv" added to a bare name; an existing file only after "覆盖" is answered Yes.
    f.dialogs.fileNames = {path("list"), path("list.csv"), path("list.csv")};
    QCOMPARE(AskExportFileName(), path("list.csv"));
    WriteFile(path("list.csv"), "old");
    f.dialogs.answers = {MsgAnswer::No, MsgAnswer::Yes};
    QCOMPARE(AskExportFileName(), QString());
    QCOMPARE(AskExportFileName(), path("list.csv"));
    QCOMPARE(f.dialogs.texts(), (QStringList{"文件已经存在，覆盖文件吗？", "文件已经存在，覆盖文件吗？"}));
    QCOMPARE(AskExportFileName(), QString()); // cancelled
    QCOMPARE(f.dialogs.fileDialogFilters.first(), QStringLiteral("对帐文件 (*.csv)"));

    // The import: the question comes after the file is chosen, and before anything is looked at.
    f.dialogs.clear();
    f.dialogs.fileNames = {path("missing.csv"), path("missing.csv")};
    f.dialogs.answers = {MsgAnswer::No, MsgAnswer::Yes};
    QCOMPARE(AskImportFileName(), QString());
    QCOMPARE(AskImportFileName(), path("missing.csv"));
    QCOMPARE(f.dialogs.texts(), (QStringList{"导入数据吗?", "导入数据吗?"}));
    QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Warning);
}

void TestExchange::importTwiceIsOnce()
{
    // Card numbers compare without case; the same card in another unit is another owner; a later
    // line of the same card, building and unit takes the place of the earlier one.
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("旧"), QStringLiteral("a1"), 1, 1)));
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("别的单元"), QStringLiteral("A1"), 1, 2)));
    WriteFile(path("in.csv"),
              ownerFile({QStringLiteral("1,1,0101,_,新,,否,2026/1/1,男,用户卡,_A1,null.jpg,5|"),
                         QStringLiteral("1,1,0102,_,乙,,否,2026/1/1,男,用户卡,_B1,null.jpg,"),
                         QStringLiteral("1,1,0103,_,乙改,,否,2026/1/1,男,用户卡,_B1,null.jpg,")}));
    QVERIFY(ImportOwners(path("in.csv")).ok());
    const QVariantList once = owners();
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo order by idx")),
             (QVariantList{QStringLiteral("别的单元"), QStringLiteral("新"), QStringLiteral("乙改")}));
    QVERIFY(ImportOwners(path("in.csv")).ok());
    QCOMPARE(owners(), once);
}

void TestExchange::headerAndEmptyFirstFieldsAreSkipped()
{
    // The first line is passed over whatever it holds, also an owner; lines with an empty first
    // field (an empty line too) are skipped and counted.
    WriteFile(path("in.csv"),
              ownerFile({QStringLiteral(",2,0101,_,无栋号,,否,2026/1/1,男,用户卡,_X,null.jpg,"), QString(),
                         QStringLiteral("4,5,6,_7,短行,,,2026-2-3,,,_,,"),
                         QStringLiteral("4,5,7,_,长行,,否,2026.2.3,女,管理卡,_L,p.jpg,1|2")},
                        StringToGbk(QStringLiteral("1,1,0101,_,标题,,否,2026/1/1,男,用户卡,_H,,\r\n"))));
    QList<QPair<int, int>> steps;
    const ExchangeResult r = ImportOwners(path("in.csv"), [&](int done, int total) {
        steps.append({done, total});
    });
    QVERIFY2(r.ok(), qPrintable(r.message));
    QCOMPARE(r.done, 4);
    QCOMPARE(r.skipped, 2);
    QCOMPARE(steps.last(), qMakePair(4, 4));
    QCOMPARE(owners(),
             (QVariantList{
                 QStringLiteral("4|5|6|7|短行|||0|2026-02-03|||||"
                                "0000000000000000000000000000000000000000000000000000000000000000|||"),
                 QStringLiteral("4|5|7||长行||否|0|2026-02-03|女|管理卡|L|p.jpg|"
                                "6000000000000000000000000000000000000000000000000000000000000000|||")}));
}

void TestExchange::utf8Files_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("stored");
    const QString line = QStringLiteral("1,2,0101,_,欧阳修远,,是,2026/12/31,男,用户卡,_U1,null.jpg,0|");
    QTest::newRow("with the byte-order mark") << QByteArray("\xEF\xBB\xBF") << line << "欧阳修远是U1";
    QTest::newRow("without") << QByteArray() << line << "欧阳修远是U1";
    // The UTF-8 of 王梁 is also GBK with two user-defined characters: the reading as UTF-8 wins.
    QTest::newRow("also GBK with user-defined characters")
        << QByteArray() << "1,2,0101,_,王梁,,,2026/12/31,,,_U1,null.jpg,"
        << "王梁U1";
}

void TestExchange::utf8Files()
{
    QFETCH(QByteArray, prefix);
    QFETCH(QString, line);
    // As a spreadsheet saves it: UTF-8, line ends of its own choice.
    WriteFile(path("in.csv"),
              prefix + QString::fromUtf8(OwnerFileHeader).toUtf8() + "\n" + line.toUtf8() + "\n");
    const ExchangeResult r = ImportOwners(path("in.csv"));
    QVERIFY2(r.ok(), qPrintable(r.message));
    QTEST(
        column(QStringLiteral("select UserName || chUseExpdate || CardNo from UserInfo")).value(0).toString(),
        "stored");
}

void TestExchange::lineThatCannotBeReadStops_data()
{
    QTest::addColumn<QByteArray>("bad");
    QTest::addColumn<QString>("reason");
    auto gbk = [](const char* text) { return StringToGbk(QString::fromUtf8(text)); };
    QTest::newRow("date") << gbk("1,1,3,_,丙,,否,2026/2/30,男,用户卡,_C,null.jpg,")
                          << "有效期“2026/2/30”不是日期";
    QTest::newRow("date with a time")
        << gbk("1,1,3,_,丙,,否,2026/2/3 0:00,男,用户卡,_C,null.jpg,") << "有效期“2026/2/3 0:00”不是日期";
    QTest::newRow("building") << gbk("一,1,3,_,丙,,否,2026/2/3,男,用户卡,_C,null.jpg,") << "栋号“一”不是整数";
    QTest::newRow("unit") << gbk("1,,3,_,丙,,否,2026/2/3,男,用户卡,_C,null.jpg,") << "单元号“”不是整数";
    QTest::newRow("terminal out of range") << gbk("1,1,3,_,丙,,否,2026/2/3,男,用户卡,_C,null.jpg,1|256|")
                                           << "门禁设备“256”不是 0 到 255 之间的门禁编号";
    QTest::newRow("terminal not a number") << gbk("1,1,3,_,丙,,否,2026/2/3,男,用户卡,_C,null.jpg,1||")
                                           << "门禁设备“”不是 0 到 255 之间的门禁编号";
    QTest::newRow("cut short") << gbk("1,1,3,_,丙,,否,2026/2/3,男") << "只有 9 个字段，应为 13 个";
    QTest::newRow("cut in the last field's place")
        << gbk("1,1,3,_,丙,,否,2026/2/3,男,用户卡,_C,null.jpg") << "只有 12 个字段，应为 13 个";
    QTest::newRow("a comma too many")
        << gbk("1,1,3,_,丙,,否,2026/2/3,男,用户卡,_C,null.jpg,1|,2|") << "有 14 个字段，应为 13 个";
    QTest::newRow("neither GBK nor UTF-8")
        << QByteArray("1,1,3,_,\xFF\xFE,,,2026/2/3,,,_C,,") << "文字既不是 GBK 编码，也不是 UTF-8 编码";
}

void TestExchange::lineThatCannotBeReadStops()
{
    QFETCH(QByteArray, bad);
    QFETCH(QString, reason);
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("原来的丙"), QStringLiteral("C"), 1, 1)));
    QByteArray file = ownerFile({QStringLiteral("1,1,1,_,甲,,否,2026/2/3,男,用户卡,_A,null.jpg,"),
                                 QStringLiteral("1,1,2,_,乙,,否,2026/2/3,男,用户卡,_B,null.jpg,")});
    file += bad + "\r\n" + StringToGbk(QStringLiteral("1,1,4,_,丁,,否,2026/2/3,男,用户卡,_D,null.jpg,\r\n"));
    WriteFile(path("in.csv"), file);
    ImportOptions options;
    options.linesPerCommit = 1;
    QList<int> committed;
    options.committed = [&](int line) { committed << line; };
    const ExchangeResult r = ImportOwners(path("in.csv"), options);
    QCOMPARE(r.status, ExchangeStatus::Stopped);
    QCOMPARE(r.stopLine, 4);
    QVERIFY2(r.reason.startsWith(reason), qPrintable(r.reason));
    QCOMPARE(r.message, QStringLiteral("操作错误：文件正在被使用，请关闭文件后再操作\n第 4 行：") + r.reason +
                            QStringLiteral("\n已导入 2 行（第 2 行到第 3 行）；从第 4 行起没有导入。"));
    QCOMPARE(r.done, 2);
    QCOMPARE(committed, (QList<int>{2, 3}));
    // The lines before it stay, it changes nothing, and the lines after it are not read.
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo order by idx")),
             (QVariantList{QStringLiteral("原来的丙"), QStringLiteral("甲"), QStringLiteral("乙")}));

    ShowExchangeResult(r);
    QCOMPARE(f.dialogs.shown.size(), 1);
    QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Error);
    QCOMPARE(f.dialogs.shown.first().buttons, MsgButtons::Abort);
}

void TestExchange::refusedLineIsLeftOutAlone()
{
    // The database refuses one owner: it is reported, its old row stays (its delete is undone with
    // it), and every other line of the file is kept, done the same way as when nothing is refused.
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("原来的乙"), QStringLiteral("B"), 1, 1)));
    QStringList lines;
    for (int i = 0; i < 7; ++i)
        lines << QStringLiteral("1,1,%1,_%2,业主%1,139,是,2026/2/3,女,用户卡,_%3,p%1.jpg,%1|")
                     .arg(i)
                     .arg(PadNumber(i, 10), i == 3 ? QStringLiteral("B") : QString::number(i));
    WriteFile(path("in.csv"), ownerFile(lines));
    QVERIFY(ImportOwners(path("in.csv")).ok());
    const QVariantList expected = owners(); // the seven lines, the fourth in place of 原来的乙
    QCOMPARE(expected.size(), 7);
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo")));
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("原来的乙"), QStringLiteral("B"), 1, 1)));

    refuseOwner(QStringLiteral("业主3"));
    ImportOptions options;
    options.linesPerCommit = 4;
    const ExchangeResult r = ImportOwners(path("in.csv"), options);
    QVERIFY2(r.ok(), qPrintable(r.message));
    QCOMPARE(r.refused, 1);
    QCOMPARE(r.done, 7);
    QCOMPARE(f.dialogs.texts().size(), 1);
    QVERIFY(f.dialogs.texts().first().startsWith(QStringLiteral("执行错误：insert into UserInfo")));
    QVariantList kept = expected;
    kept.removeAt(3);
    QCOMPARE(owners().mid(1), kept);
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo where CardNo = 'B'")),
             QVariantList{QStringLiteral("原来的乙")});
}

void TestExchange::importStopsWhenTheDatabaseCannotWrite_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("words");
    QTest::newRow("read-only") << "read-only"
                               << "只读";
    QTest::newRow("full") << "full"
                          << "磁盘已满";
    QTest::newRow("held by another program") << "busy"
                                             << "数据库正被其他程序使用";
}

void TestExchange::importStopsWhenTheDatabaseCannotWrite()
{
    // A database that cannot take a change is not the fault of any line: the import stops at the
    // first such error, undoes the commit it was in, and says why, how many lines are kept and
    // where to go on, in one message and nothing else.
    QFETCH(QString, cause);
    QFETCH(QString, words);
    QStringList lines;
    for (int i = 0; i < 3000; ++i)
        lines
            << QStringLiteral(
                   "1,%1,%2,_,业主%2 的名字写得长一些以便占满数据页,139,是,2026/2/3,女,用户卡,_K%2,p.jpg,1|")
                   .arg(i % 10)
                   .arg(i);
    WriteFile(path("in.csv"), ownerFile(lines));
    QSqlDatabase other;
    QSqlQuery setting(dm->database());
    if (cause == QLatin1String("read-only")) {
        QVERIFY(setting.exec(onServer()
                                 ? QStringLiteral("set session characteristics as transaction read only")
                                 : QStringLiteral("PRAGMA query_only = 1")));
    } else if (cause == QLatin1String("full")) {
        SKIP_ON_SERVER(); // a server's disk is the server's
        QVERIFY(setting.exec(QStringLiteral("PRAGMA page_count")) && setting.next());
        QVERIFY(
            setting.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(setting.value(0).toInt() + 40)));
    } else {
        SKIP_ON_SERVER(); // desks on a server wait for each other's locks
        QVERIFY(setting.exec(QStringLiteral("PRAGMA busy_timeout = 50")));
        other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other program"));
        other.setDatabaseName(Tdm::DatabasePath());
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }
    setting.finish();

    ImportOptions options;
    options.linesPerCommit = 100;
    int lastKept = 1;
    options.committed = [&](int line) { lastKept = line; };
    const ExchangeResult r = ImportOwners(path("in.csv"), options);
    if (other.isOpen()) {
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other program"));
    }
    QSqlQuery reset(dm->database());
    if (onServer()) {
        reset.exec(QStringLiteral("set session characteristics as transaction read write"));
    } else {
        reset.exec(QStringLiteral("PRAGMA query_only = 0"));
        reset.exec(QStringLiteral("PRAGMA max_page_count = 1073741823"));
    }
    reset.finish();

    QCOMPARE(r.status, ExchangeStatus::Failed);
    QVERIFY(f.dialogs.shown.isEmpty()); // nothing said line by line
    QVERIFY2(r.message.contains(words), qPrintable(r.message));
    QCOMPARE(r.done, lastKept - 1);
    QCOMPARE(r.stopLine, lastKept + 1);
    if (cause == QLatin1String("full"))
        QVERIFY2(lastKept > 1 && lastKept < 3001, qPrintable(QString::number(lastKept)));
    else
        QCOMPARE(lastKept, 1);
    const QString kept = lastKept > 1
                             ? QStringLiteral("已导入 %1 行（第 2 行到第 %2 行）；从第 %3 行起没有导入。")
                                   .arg(lastKept - 1)
                                   .arg(lastKept)
                                   .arg(lastKept + 1)
                             : QStringLiteral("没有导入任何一行；从第 2 行起没有导入。");
    QVERIFY2(r.message.contains(kept), qPrintable(r.message));
    QCOMPARE(countRows(QStringLiteral("UserInfo")), lastKept - 1);
    ShowExchangeResult(r);
    QCOMPARE(f.dialogs.texts(), QStringList{r.message});
    QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Error);

    // From the line named, once the database takes changes again, the rest goes in.
    QVERIFY(ImportOwners(path("in.csv")).ok());
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 3000);
}

void TestExchange::busyDatabaseIsNotADamagedOne()
{
    // A database another program holds while the import opens it: it is said to be in use, not
    // damaged, once, and nothing is changed.
    SKIP_ON_SERVER();
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("张三"), QStringLiteral("B1"))));
    delete dm;
    dm = nullptr;
    WriteFile(path("in.csv"), ownerFile({QStringLiteral("1,1,1,_,甲,,否,2026/2/3,男,用户卡,_A,null.jpg,")}));
    {
        QSqlDatabase other =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other program"));
        other.setDatabaseName(Tdm::DatabasePath());
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        dm = new Tdm;
        const ExchangeResult r = ImportOwners(path("in.csv"));
        QCOMPARE(r.status, ExchangeStatus::Failed);
        ShowExchangeResult(r);
        QCOMPARE(f.dialogs.shown.size(), 1);
        const QString said = f.dialogs.shown.first().text;
        QVERIFY2(said.contains(QStringLiteral("数据库正被其他程序使用")), qPrintable(said));
        QVERIFY2(!said.contains(QStringLiteral("损坏")), qPrintable(said));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other program"));
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo")), QVariantList{QStringLiteral("张三")});
}

void TestExchange::longFieldsAreQuotedShort()
{
    // A field of megabytes is quoted by its first few dozen characters in every message about its
    // line: one that cannot be read, and one the database refuses.
    const QString huge = QString(2 * 1024 * 1024, QLatin1Char('9')) + QLatin1Char('x');
    WriteFile(path("in.csv"),
              ownerFile({huge + QStringLiteral(",1,3,_,丙,,否,2026/2/3,男,用户卡,_C,null.jpg,")}));
    ExchangeResult r = ImportOwners(path("in.csv"));
    QCOMPARE(r.status, ExchangeStatus::Stopped);
    QVERIFY2(r.message.size() < 300, qPrintable(r.message.left(400)));
    QVERIFY2(
        r.reason.startsWith(QStringLiteral("栋号“") + QString(40, QLatin1Char('9')) + QStringLiteral("…”")),
        qPrintable(r.reason.left(100)));

    const QString card = QString(1000, QLatin1Char('K')); // as long as a server's index takes
    TuserInfoRec kept = OwnerRecord(QStringLiteral("原来的"), card, 1, 1);
    QVERIFY(InsertUserInfo(*dm, kept));
    refuse(QStringLiteral("keep"), QStringLiteral("before delete"), QStringLiteral("UserInfo"), QString(),
           QStringLiteral("kept"));
    WriteFile(path("in.csv"), ownerFile({QStringLiteral("1,1,3,_,丙,,否,2026/2/3,男,用户卡,_") + card +
                                         QStringLiteral(",null.jpg,")}));
    r = ImportOwners(path("in.csv"));
    QVERIFY2(r.ok(), qPrintable(r.message.left(400)));
    QCOMPARE(r.refused, 1);
    QCOMPARE(f.dialogs.shown.size(), 1);
    const QString said = f.dialogs.shown.first().text;
    QVERIFY2(said.startsWith(QStringLiteral("执行错误：delete from UserInfo")) && said.size() < 400,
             qPrintable(said.left(400)));
}

void TestExchange::textsSurviveTheBatch_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("tab") << QStringLiteral("a\tb\t");
    QTest::newRow("line breaks") << QStringLiteral("a\nb\r\nc\r");
    QTest::newRow("backslashes") << QStringLiteral("\\a\\\\b\\");
    QTest::newRow("escapes written out") << QStringLiteral("\\N\\t\\x41\\.");
    QTest::newRow("end of data") << QStringLiteral("\\.");
    QTest::newRow("quotes") << QStringLiteral("O'Neil \"李\" `x` $$");
    QTest::newRow("empty") << QString();
    QTest::newRow("two-byte characters") << QStringLiteral("é×ü\\ß");
    QTest::newRow("beyond the basic plane") << QStringLiteral("𠀀乙\t\U0001F600");
}

void TestExchange::textsSurviveTheBatch()
{
    // Every text column of an owner comes back as it went in, also the characters the server's COPY
    // text writes as escapes.
    QFETCH(QString, text);
    TuserInfoRec rec = withTerminals(OwnerRecord(text, QStringLiteral("T") + text, 1, 1, text), {0, 255});
    rec.CardID = rec.Phone = rec.Remark = rec.BuildName = rec.ExtName = rec.chLoss = rec.Sex = rec.UserType =
        rec.chUseExpdate = text;
    {
        ImportBatch batch(*dm);
        QVERIFY(batch.Add(rec));
        QVERIFY(batch.Commit());
        QCOMPARE(batch.Refused(), 0);
    }
    TuserInfoRec back;
    QCOMPARE(LoadUserInfoByCardNo(*dm, QStringLiteral("T") + text, back), 1);
    const QString stored = text.isNull() ? QStringLiteral("") : text;
    for (const QString& field :
         {back.UserName, back.FangHao, back.CardID, back.Phone, back.Remark, back.BuildName, back.ExtName,
          back.chLoss, back.Sex, back.UserType, back.chUseExpdate})
        QCOMPARE(field, stored);
    QVERIFY(back.VaildTerminal == rec.VaildTerminal);
    QCOMPARE(back.ExpDate, rec.ExpDate);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestExchange::fileWithTabsAndBackslashesGoesBothWays()
{
    // What a file line may carry besides commas and line breaks comes back byte for byte.
    const QByteArray file =
        ownerFile({QStringLiteral("1,1,101,_\\N,a\tb\\c,\\\\,否,2026/1/1,\"男\",'卡',_K\\.,p\tq.jpg,0|"),
                   QStringLiteral("1,1,102,_,\\x41,,是,2026/1/1,女,用户卡,_K2,null.jpg,")});
    WriteFile(path("in.csv"), file);
    QVERIFY(ImportOwners(path("in.csv")).ok());
    QVERIFY(ExportOwners(path("out.csv"), ExportFilter{}).ok());
    QCOMPARE(ReadFile(path("out.csv")), file);
}

void TestExchange::batchEqualsOwnersOneByOne_data()
{
    QTest::addColumn<int>("perCommit");
    QTest::addColumn<bool>("seeded");
    QTest::addColumn<QStringList>("lines");
    const QStringList keys = {
        QStringLiteral("1,1,1,_,甲,,否,2026/1/1,男,用户卡,_K1,null.jpg,"),
        QStringLiteral("1,2,2,_,乙,,否,2026/1/1,男,用户卡,_k2,null.jpg,"),
        QStringLiteral("1,1,3,_,甲改,,否,2026/1/1,男,用户卡,_k1,null.jpg,1|"),
        QStringLiteral("2,2,4,_,丙,,否,2026/1/1,男,用户卡,_K3,null.jpg,"),
        QStringLiteral("1,1,5,_,甲又改,,否,2026/1/1,男,用户卡,_K1,null.jpg,2|"),
        QStringLiteral("2,1,6,_,丁,,否,2026/1/1,男,用户卡,_K3,null.jpg,"),
        QStringLiteral("2,2,7,_,丙改,,否,2026/1/1,男,用户卡,_k3,null.jpg,"),
    };
    QTest::newRow("one commit") << 100 << true << keys;
    QTest::newRow("commits of two") << 2 << true << keys;
    // Into an empty table, keys and serials again within a commit and in later commits, in another
    // case, and a card number of other characters.
    const QStringList again = {
        QStringLiteral("1,1,1,_00000000ab,甲,,否,2026/1/1,男,用户卡,_K1,null.jpg,"),
        QStringLiteral("1,2,2,_0000000002,乙,,否,2026/1/1,男,用户卡,_k2,null.jpg,"),
        QStringLiteral("1,1,3,_,戊,,否,2026/1/1,男,用户卡,_卡1,null.jpg,"),
        QStringLiteral("2,2,4,_00000000AB,丙,,否,2026/1/1,男,用户卡,_K3,null.jpg,"),
        QStringLiteral("1,1,5,_0000000005,甲改,,否,2026/1/1,男,用户卡,_k1,null.jpg,2|"),
        QStringLiteral("2,1,6,_0000000002,丁,,否,2026/1/1,男,用户卡,_K4,null.jpg,"),
        QStringLiteral("1,1,7,_,戊改,,否,2026/1/1,男,用户卡,_卡1,null.jpg,"),
        QStringLiteral("2,2,8,_0000000005,丙改,,否,2026/1/1,男,用户卡,_k3,null.jpg,"),
    };
    QTest::newRow("empty, one commit") << 100 << false << again;
    QTest::newRow("empty, commits of two") << 2 << false << again;
    QTest::newRow("empty, commits of one") << 1 << false << again;
    QTest::newRow("filled, commits of two") << 2 << true << again;
}

void TestExchange::batchEqualsOwnersOneByOne()
{
    // Keys repeated within the file, in another case, and over rows already there; serials brought
    // again: the rows the import leaves are those of the owners imported one at a time, in the
    // same order.
    QFETCH(int, perCommit);
    QFETCH(bool, seeded);
    QFETCH(QStringList, lines);
    auto seed = [seeded] {
        if (!seeded)
            return;
        QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("原1"), QStringLiteral("k1"), 1, 1)));
        QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("原2"), QStringLiteral("K2"), 1, 2)));
        QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("原3"), QStringLiteral("K3"), 2, 1)));
        TuserInfoRec held = OwnerRecord(QStringLiteral("原3乙"), QStringLiteral("k3"), 2, 1);
        held.CardID = QStringLiteral("00000000aB");
        QVERIFY(InsertUserInfo(*dm, held));
    };
    WriteFile(path("in.csv"), ownerFile(lines));
    seed();
    const QByteArray bytes = ownerFile(lines);
    OwnerFileReader oneByOne(bytes.constData(), bytes.size());
    OwnerLine line;
    TuserInfoRec rec;
    while (oneByOne.Next(line, rec))
        QVERIFY(ImportUserInfo(*dm, rec));
    const QVariantList expected = owners();
    QVERIFY(expected.size() >= 4);

    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo")));
    seed();
    ImportOptions options;
    options.linesPerCommit = perCommit;
    const ExchangeResult r = ImportOwners(path("in.csv"), options);
    QVERIFY2(r.ok(), qPrintable(r.message));
    QCOMPARE(owners(), expected);
}

void TestExchange::changesOfAnotherDeskBetweenCommitsCount()
{
    // An import into an empty table, a commit per line: between two commits another desk adds an
    // owner with the key of a later line and registers the serial a later line brings to an owner
    // the import added. The later line still replaces that owner and takes that serial.
    WriteFile(path("in.csv"),
              ownerFile({QStringLiteral("1,1,1,_,甲,,否,2026/1/1,男,用户卡,_K1,null.jpg,"),
                         QStringLiteral("1,1,2,_0000000555,乙,,否,2026/1/1,男,用户卡,_K2,null.jpg,"),
                         QStringLiteral("1,1,3,_,丙,,否,2026/1/1,男,用户卡,_K3,null.jpg,")}));
    Tdm other(dm->Target());
    ImportOptions options;
    options.linesPerCommit = 1;
    options.committed = [&](int line) {
        if (line != 2)
            return;
        QVERIFY(InsertUserInfo(other, OwnerRecord(QStringLiteral("外"), QStringLiteral("K2"), 1, 1)));
        QVERIFY(RegisterCardID(other, FindUserByCardNo(other, QStringLiteral("K1")),
                               QStringLiteral("0000000555")));
        other.CloseDataSets();
    };
    const ExchangeResult r = ImportOwners(path("in.csv"), options);
    QVERIFY2(r.ok(), qPrintable(r.message));
    QCOMPARE(column(QStringLiteral("select UserName || ':' || CardID from UserInfo order by idx")),
             (QVariantList{QStringLiteral("甲:"), QStringLiteral("乙:0000000555"), QStringLiteral("丙:")}));
}

void TestExchange::importKeepsOneHolderPerCard_data()
{
    QTest::addColumn<int>("perCommit");
    QTest::newRow("one commit") << 100;
    QTest::newRow("commits of two") << 2;
}

// A card serial belongs to one owner: an imported owner holding it takes it from any other owner
// (one the file does not replace), and of two lines with the same serial the later one keeps it.
void TestExchange::importKeepsOneHolderPerCard()
{
    QFETCH(int, perCommit);
    TuserInfoRec held = OwnerRecord(QStringLiteral("原持卡人"), QStringLiteral("H1"), 3, 1);
    held.CardID = QStringLiteral("0000000123");
    QVERIFY(InsertUserInfo(*dm, held));
    TuserInfoRec replaced = OwnerRecord(QStringLiteral("旧"), QStringLiteral("K4"), 1, 1);
    replaced.CardID = QStringLiteral("0000000789");
    QVERIFY(InsertUserInfo(*dm, replaced));
    TuserInfoRec kept = OwnerRecord(QStringLiteral("别人"), QStringLiteral("K5"), 1, 1);
    kept.CardID = QStringLiteral("0000000999");
    QVERIFY(InsertUserInfo(*dm, kept));
    WriteFile(path("in.csv"),
              ownerFile({QStringLiteral("1,1,1,_0000000123,甲,,否,2026/1/1,男,用户卡,_K1,null.jpg,"),
                         QStringLiteral("1,2,2,_0000000456,乙,,否,2026/1/1,男,用户卡,_K2,null.jpg,"),
                         QStringLiteral("1,1,3,_0000000789,旧改,,否,2026/1/1,男,用户卡,_K4,null.jpg,"),
                         QStringLiteral("1,2,4,_,无卡,,否,2026/1/1,男,用户卡,_K6,null.jpg,"),
                         QStringLiteral("1,2,3,_0000000456,丙,,否,2026/1/1,男,用户卡,_K3,null.jpg,")}));
    ImportOptions options;
    options.linesPerCommit = perCommit;
    const ExchangeResult r = ImportOwners(path("in.csv"), options);
    QVERIFY2(r.ok(), qPrintable(r.message));
    QCOMPARE(column(QStringLiteral("select UserName || ':' || CardID from UserInfo order by idx")),
             (QVariantList{QStringLiteral("原持卡人:"), QStringLiteral("别人:0000000999"),
                           QStringLiteral("甲:0000000123"), QStringLiteral("乙:"),
                           QStringLiteral("旧改:0000000789"), QStringLiteral("无卡:"),
                           QStringLiteral("丙:0000000456")}));

    // One owner at a time, the same.
    TuserInfoRec again = OwnerRecord(QStringLiteral("丁"), QStringLiteral("K7"), 2, 2);
    again.CardID = QStringLiteral("0000000999");
    QVERIFY(ImportUserInfo(*dm, again));
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo where CardID = '0000000999'")),
             QVariantList{QStringLiteral("丁")});
}

void TestExchange::textTheServerCannotHoldIsLeftOutAlone()
{
    // A NUL character in a text: the file keeps it, the server refuses the owner (its text cannot
    // hold one), and only that owner is left out and reported.
    const QString nul = QStringLiteral("乙") + QChar(0) + QStringLiteral("尾");
    ImportBatch batch(*dm);
    QVERIFY(batch.Add(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A"))));
    QVERIFY(batch.Add(OwnerRecord(nul, QStringLiteral("B"))));
    QVERIFY(batch.Add(OwnerRecord(QStringLiteral("丙"), QStringLiteral("C"))));
    QVERIFY(batch.Commit());
    const QVariantList names = column(QStringLiteral("select UserName from UserInfo order by idx"));
    if (!dm->IsServer()) {
        QCOMPARE(names, (QVariantList{QStringLiteral("甲"), nul, QStringLiteral("丙")}));
        return;
    }
    QCOMPARE(batch.Refused(), 1);
    QCOMPARE(names, (QVariantList{QStringLiteral("甲"), QStringLiteral("丙")}));
    QCOMPARE(f.dialogs.texts().size(), 1);
    QVERIFY(f.dialogs.texts().first().startsWith(QStringLiteral("执行错误：insert into UserInfo")));
}

void TestExchange::refusedOwnerAfterOthersWentInIsLeftOutAlone()
{
    // A commit of more owners than go to the database in one piece, refused near its end: those
    // before the refused one have already been taken in, yet only that one is left out and reported.
    const QString longName = QStringLiteral("业主的名字写得长一些以便一次提交装不进一块数据");
    ImportBatch batch(*dm);
    constexpr int Owners = 3000;
    for (int i = 0; i < Owners; ++i) {
        const QString name =
            i == Owners - 2 ? QStringLiteral("乙") + QChar(0) : longName + QString::number(i);
        QVERIFY(batch.Add(OwnerRecord(name, QStringLiteral("K%1").arg(i), 1, 1 + i % 5)));
    }
    QVERIFY(batch.Commit());
    if (!dm->IsServer()) {
        QCOMPARE(countRows(QStringLiteral("UserInfo")), Owners); // the file keeps the NUL
        return;
    }
    QCOMPARE(batch.Refused(), 1);
    QCOMPARE(countRows(QStringLiteral("UserInfo")), Owners - 1);
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where CardNo = 'K%1'").arg(Owners - 2)),
             QVariantList{0});
    QCOMPARE(f.dialogs.texts().size(), 1);
}

void TestExchange::batchEndedWithoutCommitKeepsNothing()
{
    // A batch that ends before its commit (an error of the program's own), its owners on their way
    // to the database: none of them is kept, the owner they would replace stays, and the next
    // import on the same connection goes in.
    QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("原"), QStringLiteral("K1"))));
    {
        ImportBatch batch(*dm);
        QVERIFY(batch.Add(OwnerRecord(QStringLiteral("甲"), QStringLiteral("K1"))));
        QVERIFY(batch.Add(OwnerRecord(QStringLiteral("乙"), QStringLiteral("K2"))));
    }
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo order by idx")),
             QVariantList{QStringLiteral("原")});
    ImportBatch again(*dm);
    QVERIFY(again.Add(OwnerRecord(QStringLiteral("丙"), QStringLiteral("K1"))));
    QVERIFY(again.Commit());
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo order by idx")),
             QVariantList{QStringLiteral("丙")});
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestExchange::serverParameters_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("numbered");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("each name once, in order of first use")
        << "select * from t where a = :a and b = :b or a > :a"
        << "select * from t where a = $1 and b = $2 or a > $1" << QStringList{"a", "b"};
    QTest::newRow("casts, texts, names and comments stay")
        << "select x::text, ':no', \":no\" -- :no\n from t /* :no */ where c = :c_1"
        << "select x::text, ':no', \":no\" -- :no\n from t /* :no */ where c = $1" << QStringList{"c_1"};
    QTest::newRow("a doubled quote inside a text") << "select 'it''s :no' || :yes"
                                                   << "select 'it''s :no' || $1" << QStringList{"yes"};
}

void TestExchange::serverParameters()
{
    QFETCH(QString, sql);
    QStringList names;
    QTEST(NumberedParameters(sql, &names), "numbered");
    QTEST(names, "names");
}

void TestExchange::missingAndUnreadableFiles()
{
    const ExchangeResult missing = ImportOwners(path("none.csv"));
    QCOMPARE(missing.status, ExchangeStatus::Missing);
    ShowExchangeResult(missing);
    QCOMPARE(f.dialogs.texts(), QStringList{"数据文件不存在,操作终止"});
    QCOMPARE(f.dialogs.shown.first().buttons, MsgButtons::Abort);

    QDir().mkpath(path("folder.csv"));
    const ExchangeResult folder = ImportOwners(path("folder.csv"));
    QCOMPARE(folder.status, ExchangeStatus::FileError);
    QVERIFY(folder.message.startsWith(QStringLiteral("操作错误：文件正在被使用，请关闭文件后再操作\n")));

    const ExchangeResult unwritable = ExportOwners(path("no/such/folder.csv"), ExportFilter{});
    QCOMPARE(unwritable.status, ExchangeStatus::FileError);
    QVERIFY2(unwritable.message.startsWith(QStringLiteral("文件没有导出：")) &&
                 unwritable.message.contains(QStringLiteral("文件夹不存在")),
             qPrintable(unwritable.message));
}

void TestExchange::filesWithoutOwnerLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("skipped");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("the header alone") << Header << 0;
    QTest::newRow("bytes without a line end") << QByteArray("1,1,101,_,x,,,2026/1/1,,,_A,,") << 0;
    QTest::newRow("only lines without a building") << Header + "\r\n,1\r\n\r\n" << 3;
}

void TestExchange::filesWithoutOwnerLines()
{
    // A file with no owner line in it says so (most likely the wrong file), and changes nothing.
    QFETCH(QByteArray, bytes);
    QFETCH(int, skipped);
    WriteFile(path("in.csv"), bytes);
    const ExchangeResult r = ImportOwners(path("in.csv"));
    QCOMPARE(r.status, ExchangeStatus::Empty);
    QCOMPARE(r.skipped, skipped);
    QVERIFY2(r.message.startsWith(QStringLiteral("文件中没有业主资料")), qPrintable(r.message));
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 0);
    ShowExchangeResult(r);
    QCOMPARE(f.dialogs.texts(), QStringList{r.message});
    QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Warning);
}

void TestExchange::readerCountsLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("lastLine"); // the line last read (1: none after the header)
    QTest::addColumn<int>("badLine");
    QTest::addColumn<QString>("kinds"); // one letter a line: Owner, Skipped, Unreadable
    // No bytes at all, as an empty file is handed over (no buffer).
    QTest::newRow("no bytes") << QByteArray() << 0 << 1 << 0 << "";
    QTest::newRow("header alone") << QByteArray("h") << 0 << 1 << 0 << "";
    QTest::newRow("last line without its end") << QByteArray("h\r\n1,2,,,,,,,,,,,") << 1 << 2 << 0 << "O";
    QTest::newRow("each kind") << QByteArray("h\n,x\nx,1\n1,2,,,,,,,,,,,\n") << 3 << 4 << 0 << "SUO";
    QTest::newRow("bytes neither GBK nor UTF-8")
        << QByteArray("h\n1,2,,,,,,,,,,,\n\xff\xff\n1,2,,,,,,,,,,,\n") << 3 << 2 << 3 << "O";
    // Line ends of CR alone (as old spreadsheets write them), mixed with CR LF and LF.
    QTest::newRow("CR alone") << QByteArray("h\r,x\rx,1\r1,2,,,,,,,,,,,\r") << 3 << 4 << 0 << "SUO";
    QTest::newRow("CR, CR LF and LF mixed")
        << QByteArray("h\r\n,x\rx,1\n1,2,,,,,,,,,,,\r\n\r1,2,,,,,,,,,,,") << 5 << 6 << 0 << "SUOSO";
    QTest::newRow("CR alone, then bytes neither GBK nor UTF-8")
        << QByteArray("h\r1,2,,,,,,,,,,,\r\xff\xff\r1,2,,,,,,,,,,,\r") << 3 << 2 << 3 << "O";
}

void TestExchange::readerCountsLines()
{
    QFETCH(QByteArray, bytes);
    OwnerFileReader reader(bytes.isEmpty() ? nullptr : bytes.constData(), bytes.size());
    OwnerLine line;
    TuserInfoRec rec;
    QString kinds;
    while (reader.Next(line, rec))
        kinds += QStringLiteral("OSU").at(int(line.kind));
    QTEST(kinds, "kinds");
    QTEST(reader.Total(), "total");
    QTEST(reader.LineNo(), "lastLine");
    QTEST(reader.BadLine(), "badLine");
}

void TestExchange::statementsUseTheirIndexes()
{
    SKIP_ON_SERVER(); // the server plans with statistics of its own
    auto plan = [](const QString& sql) {
        QStringList steps;
        QSqlQuery q(dm->database());
        q.prepare(QStringLiteral("explain query plan ") + sql);
        const QStringList names = StatementParameters(sql);
        for (const QString& name : names)
            q.bindValue(QLatin1Char(':') + name, 1);
        q.exec();
        while (q.next())
            steps << q.value(3).toString();
        return steps.join(QLatin1Char(';'));
    };
    const QString replace = plan(ImportDeleteStatement(*dm));
    QVERIFY2(replace.contains(QStringLiteral("USING INDEX UserInfo_CardNo (CardNo=?)")), qPrintable(replace));
    // The serials of a commit: its new rows by idx, their other holders through the serial's index.
    const QString holders = plan(ClearOtherHoldersStatement());
    QVERIFY2(holders.startsWith(QStringLiteral("SEARCH UserInfo USING INDEX UserInfo_CardID (CardID=?")),
             qPrintable(holders));
    QVERIFY2(holders.contains(QStringLiteral("USING INTEGER PRIMARY KEY (rowid>?)")), qPrintable(holders));
    QVERIFY2(!holders.contains(QStringLiteral("SCAN UserInfo")), qPrintable(holders));
    for (const ExportFilter& filter : {ExportFilter{}, ExportFilter{false, 3, 2}}) {
        const QString read = plan(ExportStatement(filter));
        QVERIFY2(read.contains(QStringLiteral("USING INDEX UserInfo_Place")), qPrintable(read));
        QVERIFY2(!read.contains(QStringLiteral("TEMP B-TREE")), qPrintable(read)); // no sort of its own
    }
}

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
