#include "AppPath.h"

#include <QDir>

QString AppPath;

void SetAppPath(const QString& folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    AppPath = path;
}
