#include "store/AppPath.h"
#include "store/SaveLoad.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetAppPath(QCoreApplication::applicationDirPath());
    const SettingsLoad loaded = LoadSettings();
    if (loaded == SettingsLoad::Missing) {
        QMessageBox::critical(nullptr, QStringLiteral("IC卡脱机系统"),
                              QStringLiteral("没有找到 SystemInfo.Dat 文件"), QMessageBox::Abort);
        return 1;
    }
    QMessageBox::information(nullptr, QStringLiteral("IC卡脱机系统"),
                             QStringLiteral("设置文件已读取。程序的窗口尚在建设中。"));
    return 0;
}
