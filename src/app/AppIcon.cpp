#include "app/AppIcon.h"

#include <QString>

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/pvprint-%1.png").arg(size), QSize(size, size));
    return icon;
}
