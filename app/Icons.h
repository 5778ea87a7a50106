#pragma once
// The four toolbar images, drawn at 32 x 32.

#include <QIcon>
#include <QList>

QList<QIcon> makeToolbarImages();   // 0 connect, 1 sync, 2 report, 3 export, 4 history
