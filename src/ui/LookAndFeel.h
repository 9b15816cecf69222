#pragma once

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

// The look every window of the office's programs shares: Chinese as the locale, Qt's own texts
// (buttons of message boxes, file dialogs) in Chinese, and a Chinese font where one is installed.
// Header only, so that the simulated card issuer, which has no other use for the windows library,
// looks the same. User-interface thread, before the first window is made; the translator must live
// as long as the application.
inline void UseChineseLookAndFeel(QTranslator& translator)
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    if (translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
    const QStringList families = QFontDatabase::families();
    for (const char* family : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Microsoft YaHei"}) {
        if (families.contains(QString::fromUtf8(family))) {
            QFont font(QString::fromUtf8(family));
            font.setPointSize(10);
            QApplication::setFont(font);
            break;
        }
    }
}
