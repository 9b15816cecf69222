// The time one password hash takes (PBKDF2 with HMAC-SHA256, a 16-byte salt) at the rounds the
// program stores and around them: a check at the login costs one hash. Prints the figures.

#include "office/Passwords.h"

#include <QElapsedTimer>
#include <cstdio>

int main()
{
    const QByteArray salt(16, '\x5a');
    for (int iterations :
         {PasswordIterations / 4, PasswordIterations / 2, PasswordIterations, PasswordIterations * 2}) {
        constexpr int Runs = 5;
        qint64 best = -1;
        for (int run = 0; run < Runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QByteArray hash = PasswordHash(QStringLiteral("470925"), salt, iterations);
            const qint64 ns = timer.nsecsElapsed();
            if (hash.size() != 32)
                return 1;
            if (best < 0 || ns < best)
                best = ns;
        }
        std::printf("%-8d rounds: %7.1f ms per hash (best of %d)%s\n", iterations, double(best) / 1e6, Runs,
                    iterations == PasswordIterations ? "  <- stored for new passwords" : "");
    }
    return 0;
}
