#include "app/cursors.h"

#include <QIcon>
#include <QPixmap>

namespace plumora {

QCursor palmCursor()
{
    static const QCursor cursor(QIcon(QStringLiteral(":/cursors/palm.svg")).pixmap(32, 32), 16, 16);
    return cursor;
}

}  // namespace plumora
