#include "app/cursors.h"

#include <QIcon>
#include <QPixmap>

namespace plumora {

QCursor palmCursor()
{
    static const QCursor cursor(QIcon(QStringLiteral(":/cursors/palm.svg")).pixmap(32, 32), 16, 16);
    return cursor;
}

QCursor eyedropCursor()
{
    static const QCursor cursor(QIcon(QStringLiteral(":/cursors/eyedrop.svg")).pixmap(32, 32), 1, 30);
    return cursor;
}

QCursor crossCursor()
{
    static const QCursor cursor(QIcon(QStringLiteral(":/cursors/cross.svg")).pixmap(32, 32), 15, 15);
    return cursor;
}

}  // namespace plumora
