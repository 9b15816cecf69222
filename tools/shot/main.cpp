// iccard-shot: saves a picture of the whole X display as PNG, for the README's screenshots.
//   iccard-shot FILE.png [X Y W H]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fputs("usage: iccard-shot FILE.png [X Y W H]\n", stderr);
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    QPixmap picture = screen->grabWindow(0);
    if (argc == 6)
        picture =
            picture.copy(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt(),
                         QString::fromLocal8Bit(argv[4]).toInt(), QString::fromLocal8Bit(argv[5]).toInt());
    return picture.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
