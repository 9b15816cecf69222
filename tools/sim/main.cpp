// iccard-sim: the simulated card issuer, with a control window or headless for scripts.
//   iccard-sim [--socket PATH] [--cards FILE] [--blank-cards N]
//   iccard-sim --headless --socket PATH [--cards FILE] [--blank-cards N]
// --blank-cards gives a simulator without cards (a new cards file) N blank cards to start with.
// The program finds it when ICCARD_SIMULATOR names the same PATH.

#include "SimCardIssuer.h"
#include "SimCommands.h"
#include "SimWindow.h"
#include "ui/LookAndFeel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTranslator>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

struct Options {
    bool headless = false;
    QString socket;
    QString cards;
    int blankCards = 0;
};

bool ParseOptions(int argc, char* argv[], Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (arg == QLatin1String("--headless"))
            options.headless = true;
        else if (arg == QLatin1String("--socket") && hasValue)
            options.socket = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--cards") && hasValue)
            options.cards = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--blank-cards") && hasValue) {
            bool ok = false;
            options.blankCards = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || options.blankCards < 0 || options.blankCards > 100)
                return false;
        } else
            return false;
    }
    return true;
}

void Print(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Complain(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

int Usage()
{
    Complain(QStringLiteral(
        "用法：iccard-sim [--headless] [--socket 套接字] [--cards 卡片文件] [--blank-cards 张数]"));
    return 2;
}

// Prepares the issuer: cards from the file (kept up to date there), listening on the socket. On
// failure the reason, in words, for standard error or a message box.
bool Start(SimCardIssuer& issuer, const Options& options, QString* reason)
{
    if (!options.cards.isEmpty()) {
        if (QFile::exists(options.cards) && !issuer.loadCards(options.cards)) {
            *reason = QStringLiteral("无法读取卡片文件 %1：%2").arg(options.cards, issuer.errorString());
            return false;
        }
        const QString file = options.cards;
        QObject::connect(&issuer, &SimCardIssuer::cardsChanged, &issuer, [&issuer, file] {
            if (!issuer.saveCards(file))
                Complain(QStringLiteral("无法写入卡片文件 %1").arg(file));
        });
    }
    if (issuer.serials().isEmpty())
        for (int i = 0; i < options.blankCards; ++i)
            issuer.newCard();
    if (!issuer.listen(options.socket)) {
        *reason =
            QStringLiteral("无法在套接字 %1 上等待程序连接：%2").arg(options.socket, issuer.errorString());
        return false;
    }
    return true;
}

int RunHeadless(int argc, char* argv[], const Options& options)
{
    QCoreApplication app(argc, argv);
    SimCardIssuer issuer;
    QString reason;
    if (!Start(issuer, options, &reason)) {
        Complain(reason);
        return 1;
    }
    Print(QStringLiteral("listening ") + options.socket);

    SimCommands commands(&issuer);
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) { // end of input: as "quit"
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, qsizetype(n));
        qsizetype end = 0;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(end));
            pending.remove(0, end + 1);
            bool quit = false;
            for (const QString& out : commands.execute(line, &quit))
                Print(out);
            if (quit) {
                input.setEnabled(false);
                QCoreApplication::quit();
                return;
            }
        }
    });
    return app.exec();
}

int RunWindow(int argc, char* argv[], const Options& options)
{
    QApplication app(argc, argv);
    QTranslator translator;
    UseChineseLookAndFeel(translator);
    SimCardIssuer issuer;
    QString reason;
    if (!Start(issuer, options, &reason)) {
        Complain(reason);
        QMessageBox::critical(nullptr, QStringLiteral("模拟发卡器"), reason);
        return 1;
    }
    SimWindow window(&issuer);
    window.PlaceBesideProgram();
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    if (!ParseOptions(argc, argv, options))
        return Usage();
    if (options.socket.isEmpty()) {
        if (options.headless)
            return Usage();
        options.socket = QDir::temp().filePath(QStringLiteral("iccard-sim.sock"));
    }
    return options.headless ? RunHeadless(argc, argv, options) : RunWindow(argc, argv, options);
}
