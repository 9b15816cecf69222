#include "Community.h"

#include "cards/Digits.h"
#include "link/ProgramState.h"
#include "office/OwnerCards.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/OwnerStatements.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"
#include "store/TvexUserInfo.h"
#include "ui/Photo.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstring>

const char* const CommunityRegion = "57302914";

const std::vector<CommunityOwner>& CommunityOwners()
{
    static const std::vector<CommunityOwner> owners = {
        {"张伟", 1, 1, "0502", "13812345601", "男", 1650020101u},
        {"李娜", 1, 1, "0601", "13812345602", "女", 1650020102u},
        {"王芳", 1, 2, "0302", "13912345603", "女", 1650020103u},
        {"刘洋", 1, 2, "1101", "13812345604", "男", 1650020104u},
        {"陈静", 2, 1, "0201", "13712345605", "女", 1650020105u},
        {"杨磊", 2, 1, "0803", "13812345606", "男", 1650020106u},
        {"赵敏", 2, 2, "0402", "13612345607", "女", 1650020107u},
        {"黄勇", 2, 2, "1202", "13812345608", "男", 0},
        {"周杰", 3, 1, "0101", "13912345609", "男", 0},
        {"吴婷", 3, 1, "0702", "13812345610", "女", 1650020110u},
        {"徐明", 3, 2, "0901", "13512345611", "男", 0},
        {"孙丽", 3, 2, "1502", "13812345612", "女", 0},
    };
    return owners;
}

QByteArray OwnerPhoto(const QString& name)
{
    // A head and shoulders on a light blue ground, the name below: enough to show where the
    // photo goes.
    QImage picture(240, 300, QImage::Format_RGB32);
    picture.fill(QColor(0xd8, 0xe6, 0xf3));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x35, 0x4a, 0x6b));
    QPainterPath shoulders;
    shoulders.addRoundedRect(QRectF(30, 190, 180, 160), 80, 80);
    p.drawPath(shoulders);
    p.setBrush(QColor(0xf1, 0xc9, 0xa5));
    p.drawEllipse(QRectF(75, 60, 90, 110));
    p.setBrush(QColor(0x2b, 0x22, 0x1e));
    p.drawChord(QRectF(70, 50, 100, 80), 0, 180 * 16);
    QFont font = p.font();
    font.setPixelSize(26);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 250, 240, 40), Qt::AlignCenter, name);
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG", 85);
    return bytes;
}

namespace {

void nextDay(FixedClock& clock, int hour)
{
    const QDate day = clock.now().date().addDays(1);
    clock.set(QDateTime(day, QTime(hour, 0)));
}

} // namespace

bool MakeCommunity(FixedClock& clock)
{
    std::memcpy(SystemInfo.RegionID, CommunityRegion, sizeof SystemInfo.RegionID);

    // The first day: buildings and units, then the door terminals.
    const struct {
        int building;
        int unit;
        const char* nickname;
    } units[] = {{1, 1, "东单元"}, {1, 2, "西单元"}, {2, 1, ""}, {2, 2, ""}, {3, 1, ""}, {3, 2, "临街商铺"}};
    for (const auto& u : units) {
        clock.advanceSeconds(40);
        TvexTerminalInfo::AddBuildUnit(QString::number(u.building), QString::number(u.unit),
                                       QString::fromUtf8(u.nickname));
    }
    // Terminals numbered with 自动编码 keep their numbers as names; those at the gate and the
    // building entrances were named afterwards.
    for (int id = 1; id <= 10; ++id)
        AddTerminal({0, QString::number(id), QString::number(id), QString()});
    const struct {
        const char* id;
        const char* name;
        const char* remark;
    } named[] = {{"0", "小区正门", "岗亭旁"}, {"1", "1栋1单元", "楼门"},  {"2", "1栋2单元", "楼门"},
                 {"3", "2栋1单元", "楼门"},   {"4", "2栋2单元", "楼门"},  {"5", "3栋1单元", "楼门"},
                 {"6", "3栋2单元", "楼门"},   {"7", "地下车库", "电梯厅"}};
    for (const auto& t : named) {
        clock.advanceSeconds(60);
        const TTerminalRec rec{0, QString::fromUtf8(t.id), QString::fromUtf8(t.name),
                               QString::fromUtf8(t.remark)};
        if (!DeleteTerminalByID(rec.TerminalID))
            return false;
        AddTerminal(rec);
    }

    // The next days: owners registered, half of them on each day, and their cards written.
    nextDay(clock, 9);
    const auto& owners = CommunityOwners();
    for (size_t i = 0; i < owners.size(); ++i) {
        if (i == owners.size() / 2)
            nextDay(clock, 9);
        clock.advanceSeconds(300);
        const CommunityOwner& o = owners[i];
        TuserInfoRec rec;
        rec.UserName = QString::fromUtf8(o.name);
        rec.CardNo = Now().toString(QStringLiteral("yyMMddHHmmss"));
        rec.DongHao = o.building;
        rec.DanYuan = o.unit;
        rec.FangHao = QString::fromUtf8(o.room);
        rec.Phone = QString::fromUtf8(o.phone);
        rec.Sex = QString::fromUtf8(o.sex);
        rec.UserType = QStringLiteral("用户卡");
        rec.IsUseExpDate = true;
        rec.chUseExpdate = QStringLiteral("是");
        rec.ExpDate = QDate(2027, 12, 31);
        // The gate, the owner's own entrance and the garage.
        for (int terminal : {0, (o.building - 1) * 2 + o.unit, 7})
            rec.VaildTerminal[size_t(terminal / 8)] |= uint8_t(0x80 >> (terminal % 8));
        if (i < 2) {
            // The first owners brought a photo.
            rec.ExtName = rec.CardNo + QStringLiteral(".jpg");
            QDir().mkpath(PhotoFolder());
            QFile photo(QDir(PhotoFolder()).filePath(rec.ExtName));
            if (!photo.open(QIODevice::WriteOnly) || photo.write(OwnerPhoto(rec.UserName)) < 0)
                return false;
        }
        if (!AddUserInfo(*dm, rec))
            return false;
        if (o.card) {
            clock.advanceSeconds(30);
            if (!RegisterWrittenCard(rec.idx, PadNumber(int32_t(o.card), 10)))
                return false;
        }
    }

    // Today: one owner lost the card, another one too.
    nextDay(clock, 9);
    for (const char* name : {"刘洋", "吴婷"}) {
        clock.advanceSeconds(600);
        TuserInfoRec rec;
        if (LoadUserInfoByName(*dm, QString::fromUtf8(name), rec) <= 0 ||
            !TvexUserInfo::MarkLost(FindUserIdx(*dm, rec)))
            return false;
    }
    clock.set(QDateTime(clock.now().date(), QTime(10, 30)));
    return true;
}
