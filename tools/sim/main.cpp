// iccard-sim: the simulated card issuer, with a control window or headless for scripts.
//   iccard-sim [--socket PATH] [--cards FILE] [--blank-cards N]
//   iccard-sim --headless --socket PATH [--cards FILE] [--blank-cards N]
// --blank-cards gives a simulator without cards (a new cards file) N blank cards to start with.
// The program finds it when ICCARD_SIMULATOR names the same PATH.

#include "SimCardIssuer.h"
#include "SimCommands.h"
#include "SimWindow.h"
#include "store/System.h"
#include "ui/LookAndFeel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <memory>
#include <thread>

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
    Os::WriteText(stdout, line + QLatin1Char('\n'));
}

void Complain(const QString& line)
{
    Os::WriteText(stderr, line + QLatin1Char('\n'));
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
    // Standard input is read on a thread of its own (a console or a pipe cannot be watched by the
    // event loop on every system); each line is run on the main thread. The thread may still be
    // waiting for input when the program ends, so it and what it posts to are never destroyed.
    auto* lines = new QObject;
    const auto run = [&commands](const QString& line) {
        bool quit = false;
        for (const QString& out : commands.execute(line, &quit))
            Print(out);
        if (quit)
            QCoreApplication::quit();
    };
    std::thread([lines, run] {
        char buffer[4096];
        QByteArray pending;
        while (std::fgets(buffer, sizeof buffer, stdin)) {
            pending.append(buffer);
            if (!pending.endsWith('\n'))
                continue;
            pending.chop(1);
            if (pending.endsWith('\r'))
                pending.chop(1);
            const QString line = QString::fromLocal8Bit(pending);
            pending.clear();
            QMetaObject::invokeMethod(
                lines, [run, line] { run(line); }, Qt::QueuedConnection);
        }
        // The end of input: as "quit".
        QMetaObject::invokeMethod(
            lines, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }).detach();
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
